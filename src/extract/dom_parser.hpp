#pragma once
// Parsing a page into a MyHTML tree for the DOM layer: one parser and one reusable tree per
// thread, and the corrections this system applies while the library tokenises and builds.
// Only dom.cpp uses this header.
#include <cstddef>
#include <memory>
#include <string_view>

struct myhtml_tree;

namespace kuv::extract::dom {

// A page parsed into a tree borrowed from the calling thread, or into a tree of its own when the
// thread's tree is already lent out. Giving it back cleans the tree for the next page, or frees
// it when the page was big enough that keeping its memory around would cost more than building
// a new tree.
class ParsedTree {
public:
    explicit ParsedTree(std::string_view html);  // a leading U+FEFF is dropped
    ~ParsedTree();
    ParsedTree(const ParsedTree&) = delete;
    ParsedTree& operator=(const ParsedTree&) = delete;

    myhtml_tree* get() const { return tree_; }

private:
    struct PrivateTree;
    std::unique_ptr<PrivateTree> private_;
    myhtml_tree* tree_ = nullptr;
    std::size_t parse_cost_ = 0;  // tokens and attributes: what the tree's memory grows with
};

}  // namespace kuv::extract::dom
