#include "extract/price.hpp"

#include "core/white_space.hpp"
#include "extract/byte_search.hpp"

#include <unicode/utf8.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <random>

namespace kuv::extract {

namespace {

// ---------------------------------------------------------------------------------------------
// Character classes

bool is_ascii_digit(char32_t c) { return c >= U'0' && c <= U'9'; }

// The characters that mark an amount beside them as a price. Letters (kr, CHF), the full-width
// dollar and character references deliberately do not.
bool is_currency_symbol(char32_t c) {
    return c == U'$' || (c >= 0xA2 && c <= 0xA5) || (c >= 0x20A0 && c <= 0x20BF) || c == 0x5143 ||
           c == 0x5186 || c == 0x5706 || c == 0x5713 || c == 0xC6D0 || c == 0xFDFC;
}

char fold_ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
char fold_ascii_upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
bool is_ascii_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool equals_ascii_folded(std::string_view bytes, std::string_view lower) {
    return std::ranges::equal(bytes, lower, {}, fold_ascii_lower, fold_ascii_lower);
}

// What the amount scan needs to know of a visible character.
enum class CharClass : std::uint8_t { Digit, Separator, Space, Symbol, Other };

CharClass classify(char32_t c) {
    if (is_ascii_digit(c)) return CharClass::Digit;
    if (c == U'.' || c == U',') return CharClass::Separator;
    if (is_white_space(c)) return CharClass::Space;
    if (is_currency_symbol(c)) return CharClass::Symbol;
    return CharClass::Other;
}

// Most page text is ASCII: its classes, and whether it is inert (below), come from tables built
// once when the library loads.
struct AsciiTables {
    std::array<CharClass, 0x80> classes{};
    // Bytes that change nothing while no run is open and no symbol waits before the current
    // position: white space, separators and other characters (they only clear the waiting
    // symbol). '<', digits, '$' and every byte above 0x7F are not inert.
    std::array<bool, 0x100> inert_when_idle{};

    AsciiTables() {
        for (unsigned char c = 0; c < classes.size(); ++c) {
            classes[c] = classify(c);
            inert_when_idle[c] = c != '<' && classes[c] != CharClass::Digit && classes[c] != CharClass::Symbol;
        }
    }
};

const AsciiTables kAscii;

CharClass classify_ascii(unsigned char byte) { return kAscii.classes[byte]; }
bool is_inert_when_idle(unsigned char byte) { return kAscii.inert_when_idle[byte]; }

// ---------------------------------------------------------------------------------------------
// Amounts

constexpr std::uint64_t kMinAmount = 10;
constexpr std::uint64_t kFirstYear = 1900;
constexpr std::uint64_t kLastYear = 2100;

// Amounts below 10 are too ambiguous, and 1900 to 2100 are most likely years.
bool passes_amount_filter(std::uint64_t amount) {
    return amount >= kMinAmount && (amount < kFirstYear || amount > kLastYear);
}

// The whole amount of a run of digits and separators: one or two digits after the last
// separator are a fraction and dropped (never rounded); every other separator groups digits.
// Nullopt when no digit remains or the amount exceeds u64.
std::optional<std::uint64_t> whole_amount(std::string_view run) {
    const std::size_t last_separator = run.find_last_of(".,");
    if (last_separator != std::string_view::npos) {
        const std::size_t fraction_digits = run.size() - last_separator - 1;
        if (fraction_digits == 1 || fraction_digits == 2) run = run.substr(0, last_separator);
    }
    std::uint64_t amount = 0;
    bool any_digit = false;
    for (const char c : run) {
        if (!is_ascii_digit(static_cast<char32_t>(c))) continue;
        any_digit = true;
        if (__builtin_mul_overflow(amount, std::uint64_t{10}, &amount) ||
            __builtin_add_overflow(amount, static_cast<std::uint64_t>(c - '0'), &amount)) {
            return std::nullopt;
        }
    }
    if (!any_digit) return std::nullopt;
    return amount;
}

// Reads the visible text one character at a time and records each run of digits and separators
// whose nearest non-white-space neighbour, before or after, is a currency symbol. It keeps only
// the state that question needs, so the text is never stored.
class AmountScanner {
public:
    explicit AmountScanner(PriceScale& scale) : scale_(scale) {}

    // One visible character: its class and, for digits and separators, the character itself.
    void feed(CharClass c, char ascii) {
        if (state_ == State::InRun) {
            if (c == CharClass::Digit || c == CharClass::Separator) {
                run_.push_back(ascii);
                return;
            }
            state_ = State::AfterRun;
        }
        if (state_ == State::AfterRun) {
            if (c == CharClass::Space) return;
            close_run(c == CharClass::Symbol);
        }
        if (c == CharClass::Digit) {
            run_.assign(1, ascii);
            run_marked_ = symbol_before_;
            state_ = State::InRun;
        } else if (c != CharClass::Space) {
            symbol_before_ = c == CharClass::Symbol;
        }
    }

    // Between runs with no symbol waiting, inert characters can be passed over unread.
    bool idle() const { return state_ == State::Between && !symbol_before_; }

    // The end of the text: a run still open has no neighbour after it.
    void finish() {
        if (state_ != State::Between) close_run(false);
    }

private:
    enum class State { Between, InRun, AfterRun };

    void close_run(bool symbol_after) {
        if (run_marked_ || symbol_after) {
            const auto amount = whole_amount(run_);
            if (amount && passes_amount_filter(*amount) && !scale_.seen.insert(*amount).second) {
                scale_.repeated.insert(*amount);
            }
        }
        symbol_before_ = false;  // the run's last digit or separator is now the nearest neighbour
        state_ = State::Between;
    }

    PriceScale& scale_;
    State state_ = State::Between;
    bool symbol_before_ = false;  // the nearest non-white-space character so far is a symbol
    bool run_marked_ = false;     // the open run has a symbol before it
    std::string run_;             // the open run's digits and separators
};

// ---------------------------------------------------------------------------------------------
// Visible text

// Decodes the character at `pos`, advancing `pos`; an ill-formed sequence gives one U+FFFD and
// never consumes a byte that could start the next character.
char32_t next_char(std::string_view text, std::size_t& pos) {
    constexpr std::size_t kMaxCharBytes = 4;
    const auto window = static_cast<std::int32_t>(std::min(kMaxCharBytes, text.size() - pos));
    std::int32_t width = 0;
    UChar32 c = 0;
    U8_NEXT_OR_FFFD(reinterpret_cast<const std::uint8_t*>(text.data() + pos), width, window, c);
    pos += static_cast<std::size_t>(width);
    return static_cast<char32_t>(c);
}

// Index of the first byte at or after `pos` that is not inert when idle, or the text's size.
// The bytes that are not inert are exactly '<', '$', the digits and every byte above 0x7F, so
// sixteen bytes at a time are passed over while none of them is one of those.
std::size_t skip_inert(std::string_view html, std::size_t pos) {
#if defined(__SSE2__)
    const auto repeated = [](char c) { return _mm_set1_epi8(c); };
    for (; pos + 16 <= html.size(); pos += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(html.data() + pos));
        const __m128i digit =
            _mm_and_si128(_mm_cmpgt_epi8(bytes, repeated('0' - 1)), _mm_cmplt_epi8(bytes, repeated('9' + 1)));
        const __m128i markup_or_dollar =
            _mm_or_si128(_mm_cmpeq_epi8(bytes, repeated('<')), _mm_cmpeq_epi8(bytes, repeated('$')));
        // The sign bits of `bytes` mark the bytes above 0x7F.
        const int notable = _mm_movemask_epi8(_mm_or_si128(digit, markup_or_dollar)) | _mm_movemask_epi8(bytes);
        if (notable != 0) return pos + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(notable)));
    }
#endif
    while (pos < html.size() && is_inert_when_idle(static_cast<unsigned char>(html[pos]))) ++pos;
    return pos;
}

// Passes the tag or removed block that opens at `pos` (a '<'): a script or style block feeds
// nothing, any other tag one space. Returns the index just past it, or npos when the tag never
// closes and so swallows the rest of the text.
std::size_t pass_markup(std::string_view html, std::size_t pos, AmountScanner& scanner) {
    // Both removed blocks have names that start with 's', so most tags need no further test.
    if (pos + 1 < html.size() && fold_ascii_lower(html[pos + 1]) == 's') {
        for (const std::string_view tag : {"script", "style"}) {
            if (const auto [matched, end] = skip_block(html, pos, tag); matched) return end;
        }
    }
    scanner.feed(CharClass::Space, ' ');
    const std::size_t close = html.find('>', pos);
    return close == std::string_view::npos ? close : close + 1;
}

// Feeds the page's visible text to the scanner: script and style blocks are removed and every
// other tag becomes one space. Character references stay as written.
void scan_visible_text(std::string_view html, AmountScanner& scanner) {
    std::size_t pos = 0;
    while (pos < html.size()) {
        if (scanner.idle()) {
            pos = skip_inert(html, pos);
            if (pos == html.size()) break;
        }
        const auto byte = static_cast<unsigned char>(html[pos]);
        if (byte == '<') {
            pos = pass_markup(html, pos, scanner);
            if (pos == std::string_view::npos) break;
        } else if (byte < 0x80) {
            scanner.feed(classify_ascii(byte), static_cast<char>(byte));
            ++pos;
        } else {
            scanner.feed(classify(next_char(html, pos)), '\0');
        }
    }
    scanner.finish();
}

// Index of the first "</" + tag (ASCII case-insensitive) at or after `from`, or npos.
std::size_t find_closing_tag(std::string_view html, std::size_t from, std::string_view tag) {
    for (std::size_t q = html.find('<', from); q != std::string_view::npos; q = html.find('<', q + 1)) {
        if (q + 2 + tag.size() > html.size()) return std::string_view::npos;
        if (html[q + 1] == '/' && equals_ascii_folded(html.substr(q + 2, tag.size()), tag)) return q;
    }
    return std::string_view::npos;
}

// ---------------------------------------------------------------------------------------------
// Currency

// In the order a candidate is compared with them.
constexpr std::array<std::string_view, 20> kCurrencyCodes = {
    "USD", "EUR", "GBP", "JPY", "CNY", "TWD", "HKD", "SGD", "AUD", "CAD",
    "KRW", "INR", "ILS", "THB", "MYR", "PHP", "IDR", "VND", "BRL", "MXN",
};

// Searched in this order, quotes included.
constexpr std::array<std::string_view, 3> kCurrencyKeys = {
    "\"priceCurrency\"", "\"currency_code\"", "\"currency\"",
};

struct SymbolCurrency {
    std::string_view symbol;
    std::string_view code;
};

// Tried in this order when no key names a known code.
constexpr std::array<SymbolCurrency, 7> kSymbolCurrencies = {{
    {"\u20AC", "EUR"},
    {"\u00A3", "GBP"},
    {"\u20AA", "ILS"},
    {"\u20B9", "INR"},
    {"\u20A9", "KRW"},
    {"NT$", "TWD"},
    {"NT\uFF04", "TWD"},
}};

constexpr std::size_t kCurrencyWindow = 16;

std::string_view known_code(std::string_view letters) {
    // `letters` is always three bytes long; index them directly so the optimiser can see it.
    const std::array<char, 3> upper{fold_ascii_upper(letters[0]), fold_ascii_upper(letters[1]),
                                    fold_ascii_upper(letters[2])};
    const std::string_view candidate(upper.data(), upper.size());
    const auto it = std::ranges::find(kCurrencyCodes, candidate);
    return it == kCurrencyCodes.end() ? std::string_view{} : *it;
}

// The first group of three ASCII letters in `window` that names a known code. No word boundary
// is needed: "Euro" gives EUR, and "cod", "ode" miss before "EUR" in {"code":"EUR"}.
std::string_view code_in_window(std::string_view window) {
    for (std::size_t p = 0; p + 3 <= window.size(); ++p) {
        const auto letters = window.substr(p, 3);
        if (!std::ranges::all_of(letters, is_ascii_letter)) continue;
        if (const auto code = known_code(letters); !code.empty()) return code;
    }
    return {};
}

std::string_view currency_from_keys(std::string_view html) {
    for (const auto key : kCurrencyKeys) {
        const std::size_t at = find_bytes(html, key);
        if (at == std::string_view::npos) continue;
        const auto code = code_in_window(html.substr(at + key.size(), kCurrencyWindow));
        if (!code.empty()) return code;
    }
    return {};
}

std::string_view currency_from_symbols(std::string_view html) {
    for (const auto& [symbol, code] : kSymbolCurrencies) {
        if (find_bytes(html, symbol) != std::string_view::npos) return code;
    }
    return {};
}

std::string_view page_currency(std::string_view html) {
    const auto code = currency_from_keys(html);
    return code.empty() ? currency_from_symbols(html) : code;
}

// ---------------------------------------------------------------------------------------------
// Verdict

constexpr std::array<std::string_view, 5> kZeroDecimalCurrencies = {"JPY", "KRW", "TWD", "VND", "IDR"};

bool is_zero_decimal(std::string_view currency) {
    return std::ranges::find(kZeroDecimalCurrencies, currency) != kZeroDecimalCurrencies.end();
}

const Decimal& hundred() {
    static const Decimal value = Decimal::from_int(100);
    return value;
}

// A price text keeps only its digits and points ("-5" reads 5, "12,50" reads 1250); a number
// is read from its printed JSON text, so exponent forms fail.
std::optional<Decimal> read_raw_price(const Json& raw) {
    if (raw.is_string()) {
        std::string kept;
        for (char c : raw.get_ref<const std::string&>()) {
            if ((c >= '0' && c <= '9') || c == '.') kept.push_back(c);
        }
        return Decimal::parse(kept);
    }
    if (raw.is_number()) {
        std::string printed;
        write_json(printed, raw);
        return Decimal::parse(printed);
    }
    return std::nullopt;
}

// |a - b| < bound; false when the difference does not fit.
bool within(const Decimal& a, const Decimal& b, const Decimal& bound) {
    const auto difference = a.checked_sub(b);
    return difference && difference->abs() < bound;
}

struct Judged {
    Decimal value;
    std::int32_t score = 0;
};

// A value within half the reference of 100 x reference is in minor units; one within a
// hundredth of the reference is in major units.
std::optional<Judged> judge_by_reference(const Decimal& v, const Decimal& reference) {
    if (!(Decimal{} < reference)) return std::nullopt;
    const auto minor = reference.checked_mul(hundred());
    const auto half = reference.checked_div(Decimal::from_int(2));
    if (minor && half && within(v, *minor, *half)) {
        if (auto major = v.checked_div(hundred())) return Judged{*major, 3};
    }
    const auto hundredth = reference.checked_div(hundred());
    if (hundredth && within(v, reference, *hundredth)) return Judged{v, 3};
    return std::nullopt;
}

std::int32_t page_score(const PriceScale& scale, std::uint64_t amount) {
    return scale.repeated.contains(amount) ? 3 : 2;
}

// Matches the value (rounded half-to-even) against the amounts the page shows, then the value
// read as minor units when it is a whole number of hundreds.
Judged judge_by_page(const Decimal& v, const PriceScale& scale) {
    if (!scale.has_text_prices) return {v, 0};
    const auto k = decimal_to_u64_round(v);
    if (!k) return {v, 0};
    if (scale.seen.contains(*k)) return {v, page_score(scale, *k)};
    if (v < hundred()) return {v, 0};
    const auto major = v.checked_div(hundred());
    if (!major || !major->fract().is_zero()) return {v, 0};
    const auto amount = decimal_to_u64_round(*major);
    if (!amount || !scale.seen.contains(*amount)) return {v, 0};
    return {*major, page_score(scale, *amount)};
}

std::int64_t minor_units(const Decimal& value, const Decimal& factor) {
    const auto product = value.checked_mul(factor);
    if (!product) return 0;
    return product->round_dp(0).to_i64().value_or(0);
}

// Whole currency units for zero-decimal currencies; otherwise two decimals, or none when the
// cents are zero ("12", "12.50").
std::string price_text(const Decimal& value, bool zero_decimal) {
    if (zero_decimal) return value.round_dp(0).to_string();
    const Decimal cents = value.round_dp(2);
    if (!cents.fract().is_zero()) return cents.to_string_2dp();
    return cents.round_dp(0).to_string();
}

// Non-negative integers as unsigned, like the JSON parser reads them.
Json json_integer(std::int64_t value) {
    if (value >= 0) return Json(static_cast<std::uint64_t>(value));
    return Json(value);
}

std::uint64_t thread_hash_key() {
    thread_local const std::uint64_t key = [] {
        std::random_device device;
        return (std::uint64_t{device()} << 32) ^ device();
    }();
    return key;
}

}  // namespace

AmountHash::AmountHash() : key_(thread_hash_key()) {}

// The splitmix64 finaliser over the keyed amount.
std::size_t AmountHash::operator()(std::uint64_t amount) const noexcept {
    std::uint64_t x = amount ^ key_;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return static_cast<std::size_t>(x ^ (x >> 31));
}

std::pair<bool, std::size_t> skip_block(std::string_view html, std::size_t pos, std::string_view tag) {
    constexpr std::pair<bool, std::size_t> kNoMatch{false, 0};
    const std::pair<bool, std::size_t> to_end{true, html.size()};
    if (pos >= html.size() || pos + 1 + tag.size() > html.size()) return kNoMatch;
    // Nothing after the name is inspected, so "<scripts" opens a block too.
    if (!equals_ascii_folded(html.substr(pos + 1, tag.size()), tag)) return kNoMatch;
    const std::size_t open_end = html.find('>', pos + 1 + tag.size());
    if (open_end == std::string_view::npos || open_end + 1 >= html.size()) return to_end;
    const std::size_t close = find_closing_tag(html, open_end + 1, tag);
    if (close == std::string_view::npos) return to_end;
    // Whatever stands between the name and the next '>' belongs to the closing tag.
    const std::size_t close_end = html.find('>', close + 2 + tag.size());
    if (close_end == std::string_view::npos) return to_end;
    return {true, close_end + 1};
}

PriceScale PriceScale::from_html(std::string_view html) {
    PriceScale scale;
    AmountScanner scanner(scale);
    scan_visible_text(html, scanner);
    scale.has_text_prices = !scale.seen.empty();
    scale.currency = page_currency(html);
    return scale;
}

std::optional<PriceVerdict> PriceScale::verdict(const Json* raw,
                                                const std::optional<Decimal>& reference) const {
    if (raw == nullptr) return std::nullopt;
    const auto v = read_raw_price(*raw);
    if (!v) return std::nullopt;
    std::optional<Judged> judged;
    if (reference) judged = judge_by_reference(*v, *reference);
    if (!judged) judged = judge_by_page(*v, *this);

    const bool zero_decimal = is_zero_decimal(currency);
    PriceVerdict result;
    result.price = price_text(judged->value, zero_decimal);
    result.currency = currency;
    result.price_cents = minor_units(judged->value, zero_decimal ? Decimal::from_int(1) : hundred());
    result.score = judged->score;
    result.price_scale = zero_decimal ? 0 : 2;
    return result;
}

void PriceVerdict::write_into(Json& props) const {
    props["price"] = price;
    props["price_cents"] = json_integer(price_cents);
    props["price_scale"] = json_integer(price_scale);
    if (!currency.empty()) props["currency"] = std::string(currency);
    props["price_confident"] = score >= 2;
    props["price_score"] = json_integer(score);
}

std::optional<std::uint64_t> decimal_to_u64_round(const Decimal& value) {
    const Decimal whole = value.round_dp(0);
    if (whole.is_negative()) return std::nullopt;
    return whole.to_u64();
}

}  // namespace kuv::extract
