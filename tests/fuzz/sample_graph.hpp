#pragma once
// A small graph, as the bytes of its file, that holds every node kind and relation type, props
// of every JSON type, a brand shared by two products, a self relation, a relation recorded twice
// and nodes whose props are not a JSON object.
#include <string>

namespace kuv::fuzz {

std::string sample_graph_image();

}  // namespace kuv::fuzz
