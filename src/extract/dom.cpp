#include "extract/dom.hpp"

#include <myhtml/myhtml.h>

#include <new>

namespace kuv::extract::dom {
namespace {

using Node = myhtml_tree_node_t;

Node* as_node(void* handle) { return static_cast<Node*>(handle); }

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
    // Single mode: the parser never starts helper threads.
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

// One parser and one reusable tree per thread.
struct ThreadParser {
    ParserPtr parser = make_parser();
    TreePtr tree = make_tree(parser.get());
    bool tree_in_use = false;
};

ThreadParser& thread_parser() {
    thread_local ThreadParser instance;
    return instance;
}

void parse_into(myhtml_tree_t* tree, std::string_view html) {
    constexpr std::string_view kBom = "\xEF\xBB\xBF";
    if (html.starts_with(kBom)) html.remove_prefix(kBom.size());
    // Scripting enabled, so <noscript> content stays raw text. Cleaning resets the flags.
    tree->flags = static_cast<myhtml_tree_flags>(tree->flags | MyHTML_TREE_FLAGS_SCRIPT);
    // A failed parse (out of memory) leaves a partial or empty tree: that page simply has fewer
    // elements.
    myhtml_parse(tree, MyENCODING_UTF_8, html.data(), html.size());
}

bool is_element(Node* node) { return myhtml_node_tag_id(node) >= MyHTML_TAG_A; }

bool is_html(Node* node) { return myhtml_node_namespace(node) == MyHTML_NAMESPACE_HTML; }

// The next node after `node` in tree order, staying below `root`; nullptr past the last one.
// Walks parent/sibling links, so no stack grows with the page's depth.
Node* next_in_tree(Node* node, Node* root) {
    if (Node* child = myhtml_node_child(node)) return child;
    while (node != root) {
        if (Node* sibling = myhtml_node_next(node)) return sibling;
        node = myhtml_node_parent(node);
    }
    return nullptr;
}

template <typename Visit>
void for_each_descendant(Node* root, Visit&& visit) {
    if (root == nullptr) return;
    for (Node* node = next_in_tree(root, root); node != nullptr; node = next_in_tree(node, root)) visit(node);
}

bool ascii_iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

struct AttrTest {
    enum class Op { Present, Equals, Contains };
    std::string_view name;
    Op op;
    std::string_view value;
};

bool attr_matches(const Element& element, const AttrTest& test) {
    const auto value = element.attr(test.name);
    if (!value) return false;
    switch (test.op) {
        case AttrTest::Op::Present:
            return true;
        case AttrTest::Op::Equals:
            if (test.name == "type" && is_html(as_node(element.handle()))) return ascii_iequals(*value, test.value);
            return *value == test.value;
        case AttrTest::Op::Contains:
            return value->find(test.value) != std::string_view::npos;
    }
    return false;
}

bool has_tag(const Element& element, myhtml_tag_id_t tag) { return myhtml_node_tag_id(as_node(element.handle())) == tag; }

std::vector<Element> select_below(Node* root, Selector selector) {
    std::vector<Element> found;
    for_each_descendant(root, [&](Node* node) {
        if (!is_element(node)) return;
        Element element{node};
        if (element.matches(selector)) found.push_back(element);
    });
    return found;
}

}  // namespace

std::optional<std::string_view> Element::attr(std::string_view name) const {
    // Walk the list ourselves: with duplicate attributes the first one wins.
    for (auto* attribute = myhtml_node_attribute_first(as_node(node_)); attribute != nullptr;
         attribute = myhtml_attribute_next(attribute)) {
        std::size_t key_length = 0;
        const char* key = myhtml_attribute_key(attribute, &key_length);
        if (key == nullptr || std::string_view{key, key_length} != name) continue;
        std::size_t value_length = 0;
        const char* value = myhtml_attribute_value(attribute, &value_length);
        return value == nullptr ? std::string_view{} : std::string_view{value, value_length};
    }
    return std::nullopt;
}

std::string Element::text() const {
    std::string text;
    for_each_descendant(as_node(node_), [&](Node* node) {
        if (myhtml_node_tag_id(node) != MyHTML_TAG__TEXT) return;
        std::size_t length = 0;
        if (const char* chunk = myhtml_node_text(node, &length)) text.append(chunk, length);
    });
    return text;
}

bool Element::matches(Selector selector) const {
    using Op = AttrTest::Op;
    switch (selector) {
        case Selector::JsonLd:
            return has_tag(*this, MyHTML_TAG_SCRIPT) && attr_matches(*this, {"type", Op::Equals, "application/ld+json"});
        case Selector::ProductScope:
            return attr_matches(*this, {"itemscope", Op::Present, {}}) &&
                   attr_matches(*this, {"itemtype", Op::Contains, "Product"});
        case Selector::Name:
            return attr_matches(*this, {"itemprop", Op::Equals, "name"});
        case Selector::Price:
            return attr_matches(*this, {"itemprop", Op::Equals, "price"});
        case Selector::Currency:
            return attr_matches(*this, {"itemprop", Op::Equals, "priceCurrency"});
        case Selector::Image:
            return attr_matches(*this, {"itemprop", Op::Equals, "image"});
        case Selector::Url:
            return attr_matches(*this, {"itemprop", Op::Equals, "url"});
        case Selector::OgUrl:
            return has_tag(*this, MyHTML_TAG_META) && attr_matches(*this, {"property", Op::Equals, "og:url"});
    }
    return false;
}

struct Document::PrivateTree {
    ParserPtr parser = make_parser();
    TreePtr tree = make_tree(parser.get());
};

Document::Document(std::string_view html) {
    ThreadParser& shared = thread_parser();
    myhtml_tree_t* tree = nullptr;
    if (shared.tree_in_use) {
        private_ = std::make_unique<PrivateTree>();
        tree = private_->tree.get();
    } else {
        shared.tree_in_use = true;
        tree = shared.tree.get();
    }
    tree_ = tree;
    parse_into(tree, html);
}

Document::~Document() {
    if (private_) return;  // destroyed with its parser
    ThreadParser& shared = thread_parser();
    myhtml_tree_clean(shared.tree.get());
    shared.tree_in_use = false;
}

std::vector<Element> Document::select(Selector selector) const {
    return select_below(myhtml_tree_get_document(static_cast<myhtml_tree_t*>(tree_)), selector);
}

std::vector<Element> Document::select_within(Element scope, Selector selector) const {
    return select_below(as_node(scope.handle()), selector);
}

}  // namespace kuv::extract::dom
