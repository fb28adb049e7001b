#include "core/json.hpp"

namespace kuv {

const Json* json_member(const Json& value, std::string_view key) {
    if (!value.is_object()) return nullptr;
    const auto& members = value.get_ref<const Json::object_t&>();
    const auto found = members.find(key);  // transparent comparator: no key copy
    return found == members.end() ? nullptr : &found->second;
}

const std::string* json_string(const Json* value) {
    return value != nullptr && value->is_string() ? &value->get_ref<const std::string&>() : nullptr;
}

std::string json_string_or_empty(const Json* value) {
    const std::string* text = json_string(value);
    return text != nullptr ? *text : std::string{};
}

}  // namespace kuv
