#include "extract/dom_parser.hpp"

#include <myhtml/myhtml.h>

#include <algorithm>
#include <new>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace kuv::extract::dom {
namespace {

struct TreeDeleter {
    void operator()(myhtml_tree_t* tree) const { myhtml_tree_destroy(tree); }
};
struct ParserDeleter {
    void operator()(myhtml_t* parser) const { myhtml_destroy(parser); }
};
using TreePtr = std::unique_ptr<myhtml_tree_t, TreeDeleter>;
using ParserPtr = std::unique_ptr<myhtml_t, ParserDeleter>;

ParserPtr make_parser() {
    ParserPtr parser{myhtml_create()};
    // Single mode: the parser never starts helper threads, and each token is tokenised and then
    // built into the tree before the next one is read, so the hooks below see the tree as it
    // stands when their token arrives.
    if (!parser || myhtml_init(parser.get(), MyHTML_OPTIONS_PARSE_MODE_SINGLE, 1, 0) != MyHTML_STATUS_OK) {
        throw std::bad_alloc();
    }
    return parser;
}

TreePtr make_tree(myhtml_t* parser) {
    TreePtr tree{myhtml_tree_create()};
    if (!tree || myhtml_tree_init(tree.get(), parser) != MyHTML_STATUS_OK) throw std::bad_alloc();
    return tree;
}

// A tree's memory grows with the tokens and attributes parsed into it (a few hundred bytes
// each) and cleaning keeps all of it for the next page. Past this many, the tree is freed
// instead: real shop pages stay far below it, while a page of millions of elements would
// otherwise pin gigabytes on its thread for the rest of the process.
constexpr std::size_t kReusableParseCost = 200'000;

// ---------------------------------------------------------------------------------------------
// Corrections applied while the library parses

// Elements whose content the tokeniser reads as raw text (noscript too, since parsing runs with
// scripting enabled): their character references stay as written.
bool is_raw_text_element(const myhtml_tree_node_t* node) {
    if (node == nullptr || node->ns != MyHTML_NAMESPACE_HTML) return false;
    switch (node->tag_id) {
        case MyHTML_TAG_IFRAME: case MyHTML_TAG_NOEMBED: case MyHTML_TAG_NOFRAMES:
        case MyHTML_TAG_NOSCRIPT: case MyHTML_TAG_STYLE: case MyHTML_TAG_XMP:
            return true;
        default:
            return false;
    }
}

// After an end tag that does not close the raw-text element it is in (such as "</div>" inside
// <noscript>), MyHTML's tokeniser carries on in the RCDATA state, which marks the whole text
// token for character-reference decoding. Marked back as raw text, it is copied as written.
void* keep_raw_text_as_written(myhtml_tree_t* tree, myhtml_token_node_t* token, void* context) {
    if (token->tag_id == MyHTML_TAG__TEXT && (token->type & MyHTML_TOKEN_TYPE_RCDATA) != 0 &&
        is_raw_text_element(myhtml_tree_current_node(tree))) {
        token->type = static_cast<myhtml_token_type>((token->type & ~MyHTML_TOKEN_TYPE_RCDATA) |
                                                     MyHTML_TOKEN_TYPE_RAWTEXT);
    }
    return context;
}

// Whether the tree builder will take a text token by the HTML rules, which drop U+0000, rather
// than as foreign content, which turns it into U+FFFD: the test the library's dispatcher makes.
bool html_rules_take_text(myhtml_tree_t* tree) {
    if (tree->open_elements->length == 0) return true;
    myhtml_tree_node_t* node = myhtml_tree_adjusted_current_node(tree);
    return node->ns == MyHTML_NAMESPACE_HTML || myhtml_tree_is_mathml_integration_point(tree, node) ||
           myhtml_tree_is_html_integration_point(tree, node);
}

// Text read in the data state keeps its U+0000 characters until the tree builder drops them, and
// MyHTML's dropping miscounts runs of several ("\0\0ab\0c" becomes "aba", and a multi-byte
// character can be cut in two). Dropping them here, where the HTML rules will apply, leaves the
// library nothing to drop.
void drop_nul_characters(myhtml_tree_t* tree, myhtml_token_node_t* token) {
    if (token->tag_id != MyHTML_TAG__TEXT || (token->type & MyHTML_TOKEN_TYPE_NULL) == 0) return;
    if (!html_rules_take_text(tree)) return;
    mycore_string_t& text = token->str;
    if (text.data == nullptr) return;
    char* end = std::remove(text.data, text.data + text.length, '\0');
    *end = '\0';
    text.length = static_cast<std::size_t>(end - text.data);
}

std::size_t attribute_count(const myhtml_token_node_t* token) {
    std::size_t count = 0;
    for (const myhtml_token_attr_t* attribute = token->attr_first; attribute != nullptr; attribute = attribute->next) ++count;
    return count;
}

// Runs once each token's text and attributes are decoded, before the tree builder takes it.
void* after_token_decoded(myhtml_tree_t* tree, myhtml_token_node_t* token, void* context) {
    drop_nul_characters(tree, token);
    *static_cast<std::size_t*>(context) += 1 + attribute_count(token);
    return context;
}

// When the tree builder crops leading white space or a newline off a text token, MyHTML moves
// the string's start but not its recorded capacity, so a text appended to that node later
// (after an ignored tag) overruns the string's block into the next one. The block's own size
// header is right; a text node takes its capacity from it on entering the tree, before anything
// can be appended to it.
void fix_text_capacity(myhtml_tree_t*, myhtml_tree_node_t* node, void*) {
    if (node->tag_id != MyHTML_TAG__TEXT || node->token == nullptr) return;
    mycore_string_t& text = node->token->str;
    if (text.data != nullptr) text.size = std::min(text.size, mchar_async_get_size_by_data(text.data));
}

// Parses `html` into `tree`, adding the parse's cost to `cost`.
void parse_into(myhtml_tree_t* tree, std::string_view html, std::size_t& cost) {
    constexpr std::string_view kBom = "\xEF\xBB\xBF";
    if (html.starts_with(kBom)) html.remove_prefix(kBom.size());
    // Scripting enabled, so <noscript> content stays raw text. Cleaning resets the flags.
    tree->flags = static_cast<myhtml_tree_flags>(tree->flags | MyHTML_TREE_FLAGS_SCRIPT);
    myhtml_callback_before_token_done_set(tree, keep_raw_text_as_written, nullptr);
    myhtml_callback_after_token_done_set(tree, after_token_decoded, &cost);
    myhtml_callback_tree_node_insert_set(tree, fix_text_capacity, nullptr);
    // A failed parse (out of memory) leaves a partial or empty tree: that page simply has fewer
    // elements.
    myhtml_parse(tree, MyENCODING_UTF_8, html.data(), html.size());
}

// Frees a tree too big to keep. The allocator would keep most of its memory for later use by
// this thread (glibc gives each thread an arena of its own), so it is handed back to the system.
void release(TreePtr& tree) {
    tree.reset();
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

// One parser and one reusable tree per thread; the tree is made on first use and again after
// a page too big to keep.
struct ThreadParser {
    ParserPtr parser = make_parser();
    TreePtr tree;
    bool tree_in_use = false;
};

ThreadParser& thread_parser() {
    thread_local ThreadParser instance;
    return instance;
}

}  // namespace

struct ParsedTree::PrivateTree {
    ParserPtr parser = make_parser();
    TreePtr tree = make_tree(parser.get());
};

ParsedTree::ParsedTree(std::string_view html) {
    ThreadParser& shared = thread_parser();
    if (shared.tree_in_use) {
        private_ = std::make_unique<PrivateTree>();
        tree_ = private_->tree.get();
    } else {
        if (!shared.tree) shared.tree = make_tree(shared.parser.get());
        shared.tree_in_use = true;
        tree_ = shared.tree.get();
    }
    parse_into(tree_, html, parse_cost_);
}

ParsedTree::~ParsedTree() {
    if (private_) return;  // destroyed with its parser
    ThreadParser& shared = thread_parser();
    if (parse_cost_ > kReusableParseCost) {
        release(shared.tree);
    } else {
        myhtml_tree_clean(shared.tree.get());
    }
    shared.tree_in_use = false;
}

}  // namespace kuv::extract::dom
