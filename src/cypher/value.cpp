#include "cypher/value.hpp"

#include "core/debug_text.hpp"

namespace kuv::cypher {
namespace {

struct DebugWriter {
    std::string& out;
    void operator()(const Null&) const { out += "Null"; }
    void operator()(bool b) const { out += b ? "Bool(true)" : "Bool(false)"; }
    void operator()(std::int64_t i) const { out += "Int(" + std::to_string(i) + ")"; }
    void operator()(double f) const {
        out += "Float(";
        write_debug_f64(out, f);
        out += ')';
    }
    void operator()(const std::string& s) const {
        out += "Str(";
        write_debug_str(out, s);
        out += ')';
    }
    void operator()(const NodeRef& n) const {
        out += "NodeRef { idx: " + std::to_string(n.idx) + ", kind: ";
        write_debug_str(out, n.kind);
        out += ", name: ";
        write_debug_str(out, n.name);
        out += " }";
    }
};

}  // namespace

void write_debug_value(std::string& out, const Value& value) { std::visit(DebugWriter{out}, value); }

std::string debug_value(const Value& value) {
    std::string out;
    write_debug_value(out, value);
    return out;
}

std::string debug_row(const Row& row) {
    std::string out = "[";
    for (std::size_t i = 0; i < row.size(); ++i) {
        if (i > 0) out += ", ";
        write_debug_value(out, row[i]);
    }
    out += ']';
    return out;
}

}  // namespace kuv::cypher
