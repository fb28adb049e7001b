#pragma once
// The HTML5 DOM seen by the microdata and JSON-LD sources. This is the only interface to the
// HTML parser; nothing else includes its headers. All text leaving it is valid UTF-8.
#include "extract/dom_parser.hpp"

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
    // The value of the first attribute of that name (duplicates: the first wins); nullopt when
    // absent.
    std::optional<std::string> attr(std::string_view name) const;
    // All descendant text nodes in tree order, concatenated (script/style text included,
    // comments excluded).
    std::string text() const;
    bool matches(Selector selector) const;
    void* handle() const { return node_; }

private:
    void* node_;
};

// Receives a document's elements and text nodes in tree order (template contents included).
class TreeVisitor {
public:
    virtual ~TreeVisitor() = default;
    virtual void open(Element element) = 0;   // before the element's descendants
    virtual void close(Element element) = 0;  // after them
    // A text node; the view lasts until the call returns.
    virtual void text(std::string_view text) = 0;
};

// One parsed page. Uses the calling thread's parser and tree (see ParsedTree); a second
// Document alive on the same thread parses into a tree of its own.
class Document {
public:
    explicit Document(std::string_view html) : tree_(html) {}  // a leading U+FEFF is dropped

    // Matching elements in document order (template contents included), found iteratively.
    std::vector<Element> select(Selector selector) const;
    // Visits every node below the document, iteratively: a page's depth never deepens the stack.
    void walk(TreeVisitor& visitor) const;

private:
    ParsedTree tree_;
};

}  // namespace kuv::extract::dom
