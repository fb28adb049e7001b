#include "graph_checks.hpp"

#include "core/builder.hpp"
#include "core/store.hpp"

#include <string>

namespace kuv::fuzz {

using core::NodeKind;
using core::RelType;

std::string sample_graph_image() {
    core::GraphBuilder b;
    const auto mug = b.upsert_node(NodeKind::Product, "p1", "Mug",
                                   R"({"name":"Mug","price":"12.50","price_cents":1250,"sku":"0042","rating":4.5,)"
                                   R"("tags":["a"],"url":"https://shop.example/mug","in_stock":true,"desc":"Straße ΣΑΣ İx"})");
    const auto lamp = b.upsert_node(NodeKind::Product, "p2", "Lamp",
                                    R"({"name":"Lamp","price":9.99,"price_cents":999,"n":-3,"big":1e300,"z":-0.0,"nul":null})");
    b.upsert_node(NodeKind::Offer, "p1#offer0", "\"12.50\"", R"({"price":"12.50","currency":"USD","seller_name":"Shop"})");
    b.upsert_node(NodeKind::Offer, "p2#offer", "9.99", R"({"price":"10","price_cents":1000})");
    b.upsert_node(NodeKind::Brand, "Acme", "Acme", R"({"name":"Acme"})");
    b.upsert_node(NodeKind::Organization, "Acme Works", "Acme Works", "[1,2]");
    const auto review = b.upsert_node(NodeKind::Review, "p1#review0", "", R"({"rating_value":"5","date":"2024-01-02"})");
    b.upsert_node(NodeKind::AggregateRating, "p1#rating", "", R"({"rating_value":4.5,"review_count":12})");
    const auto category = b.upsert_node(NodeKind::Category, "Kitchen", "Kitchen", "not json");
    b.upsert_node(NodeKind::Category, "Home", "Home", "{}");
    b.upsert_node(NodeKind::Person, "Ann", "Ann", R"({"name":"Ann"})");
    // Escaped keys and values, a repeated key, numbers at the edges of their ranges.
    b.upsert_node(NodeKind::Person, "Bob", "\xff" "Bob",
                  R"({"n\u0061me2":"x","dup":1,"dup":"2","esc\"q":"\u0031\u0032","price":"007","sku":"-0",)"
                  R"("u":18446744073709551615,"i":-9223372036854775808,"s":"9223372036854775808","t":"0.)" +
                      std::string(330, '0') + R"(1","\u00e9":"\u00c9"})");
    const auto variant = b.upsert_node(NodeKind::Variant, "p1-blue", "Mug blue", R"({"color":"blue","price":"13"})");
    b.add_edge(mug, RelType::Offers, "p1#offer0");
    b.add_edge(mug, RelType::Brand, "Acme");
    b.add_edge(mug, RelType::Manufacturer, "Acme Works");
    b.add_edge(mug, RelType::Review, "p1#review0");
    b.add_edge(mug, RelType::AggregateRating, "p1#rating");
    b.add_edge(mug, RelType::Category, "Kitchen");
    b.add_edge(mug, RelType::HasVariant, "p1-blue");
    b.add_edge(mug, RelType::Offers, "nowhere");
    b.add_edge(lamp, RelType::Offers, "p2#offer");
    b.add_edge(lamp, RelType::Brand, "Acme");
    b.add_edge(lamp, RelType::Brand, "Acme");
    b.add_edge(lamp, RelType::Category, "p2");
    b.add_edge(review, RelType::Author, "Ann");
    b.add_edge(category, RelType::BroaderCategory, "Home");
    b.add_edge(variant, RelType::IsVariantOf, "p1");
    return core::serialize(std::move(b).build());
}

std::string one_node_image(std::string_view props) {
    core::GraphBuilder builder;
    builder.upsert_node(NodeKind::Product, "n", "n", props);
    return core::serialize(std::move(builder).build());
}

}  // namespace kuv::fuzz
