#pragma once
// The HTML5 DOM seen by the microdata and JSON-LD sources. This is the only interface to the
// HTML parser; nothing else includes its headers.
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kuv::extract::dom {

// The eight fixed selectors of the extraction sources, matched by hand-written predicates:
// "=" compares whole values, "*=" substrings, "[a]" presence; values are case-sensitive except
// the type attribute of HTML elements (ASCII case-insensitive).
enum class Selector {
    JsonLd,        // script[type="application/ld+json"]
    ProductScope,  // [itemscope][itemtype*='Product']
    Name,          // [itemprop='name']
    Price,         // [itemprop='price']
    Currency,      // [itemprop='priceCurrency']
    Image,         // [itemprop='image']
    Url,           // [itemprop='url']
    OgUrl,         // meta[property='og:url']
};

// An element of a live Document; valid while that Document lives.
class Element {
public:
    explicit Element(void* node) : node_(node) {}
    // The first attribute of that name (duplicates: the first wins); nullopt when absent.
    std::optional<std::string_view> attr(std::string_view name) const;
    // All descendant text nodes in tree order, concatenated (script/style text included,
    // comments excluded).
    std::string text() const;
    bool matches(Selector selector) const;
    void* handle() const { return node_; }

private:
    void* node_;
};

// One parsed page. Uses the calling thread's parser and tree (created once per thread, cleaned
// for reuse); a second Document alive on the same thread parses into a tree of its own.
class Document {
public:
    explicit Document(std::string_view html);  // a leading U+FEFF is dropped
    ~Document();
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    // Matching elements in document order (template contents included), found iteratively.
    std::vector<Element> select(Selector selector) const;
    // Matching descendants of `scope` (not scope itself) in document order.
    std::vector<Element> select_within(Element scope, Selector selector) const;

private:
    struct PrivateTree;                    // a tree of its own, when the thread's tree is taken
    std::unique_ptr<PrivateTree> private_;
    void* tree_ = nullptr;                 // the tree this document was parsed into
};

}  // namespace kuv::extract::dom
