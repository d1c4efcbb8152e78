#pragma once
// Every JSON document lanrove-cli prints goes through here, so that each carries the format's
// version. Scripts and the Ansible modules check "schema"; keys are only ever added to a
// version, and a change that removes or re-means a key raises it.

#include <cstdio>
#include <nlohmann/json.hpp>

namespace lanrove::cli {

inline constexpr int kJsonSchema = 1;

// `doc` with its "schema" key (documents are objects; anything else is left as it is).
template <typename Json>
Json withSchema(Json doc) {
    if (doc.is_object()) doc["schema"] = kJsonSchema;
    return doc;
}

template <typename Json>
void printJsonDocument(const Json& doc, std::FILE* to = stdout) {
    std::fprintf(to, "%s\n", withSchema(doc).dump(2).c_str());
}

}  // namespace lanrove::cli
