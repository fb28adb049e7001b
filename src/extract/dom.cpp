#include "extract/dom.hpp"

#include "core/utf8.hpp"

#include <myhtml/myhtml.h>

namespace kuv::extract::dom {
namespace {

using Node = myhtml_tree_node_t;

Node* as_node(void* handle) { return static_cast<Node*>(handle); }

// Text leaves the DOM layer only through here: `raw` itself, or its lossy repair in `buffer`.
// The library's strings should always be UTF-8 for UTF-8 input; should one not be, no page may
// carry its bytes into a graph whose string pool would refuse them.
std::string_view checked_utf8(std::string_view raw, std::string& buffer) { return decode_utf8_lossy(raw, buffer); }

std::string_view raw_text(Node* node) {
    std::size_t length = 0;
    const char* text = myhtml_node_text(node, &length);
    return text == nullptr ? std::string_view{} : std::string_view{text, length};
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

// The raw value of the first attribute of that name (duplicates: the first wins).
std::optional<std::string_view> raw_attr(Node* node, std::string_view name) {
    // Walk the list ourselves: with duplicate attributes the first one wins.
    for (auto* attribute = myhtml_node_attribute_first(node); attribute != nullptr;
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

// Selector values are ASCII, so matching reads attribute values as stored.
bool attr_matches(const Element& element, const AttrTest& test) {
    const auto value = raw_attr(as_node(element.handle()), test.name);
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

std::optional<std::string> Element::attr(std::string_view name) const {
    const auto value = raw_attr(as_node(node_), name);
    if (!value) return std::nullopt;
    std::string buffer;
    return std::string{checked_utf8(*value, buffer)};
}

std::string Element::text() const {
    std::string text;
    for_each_descendant(as_node(node_), [&](Node* node) {
        if (myhtml_node_tag_id(node) == MyHTML_TAG__TEXT) text += raw_text(node);
    });
    std::string buffer;
    if (checked_utf8(text, buffer).data() != text.data()) text = std::move(buffer);
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

std::vector<Element> Document::select(Selector selector) const {
    return select_below(myhtml_tree_get_document(tree_.get()), selector);
}

void Document::walk(TreeVisitor& visitor) const {
    Node* const root = myhtml_tree_get_document(tree_.get());
    Node* node = root == nullptr ? nullptr : myhtml_node_child(root);
    std::string buffer;
    while (node != nullptr) {
        if (is_element(node)) {
            visitor.open(Element{node});
        } else if (myhtml_node_tag_id(node) == MyHTML_TAG__TEXT) {
            visitor.text(checked_utf8(raw_text(node), buffer));
        }
        if (Node* child = myhtml_node_child(node)) {
            node = child;
            continue;
        }
        // Leave `node` and every ancestor whose last descendant it is, closing elements.
        while (node != nullptr) {
            if (is_element(node)) visitor.close(Element{node});
            if (Node* sibling = myhtml_node_next(node)) {
                node = sibling;
                break;
            }
            node = myhtml_node_parent(node);
            if (node == root) node = nullptr;
        }
    }
}

}  // namespace kuv::extract::dom
