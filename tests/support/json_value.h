// Any parsed JSON value written back with our writer, and a deep comparison of two values. Used
// to hold the writer to the reader: whatever the reader accepts, the writer reproduces.
#pragma once

#include <simdjson.h>

#include "model/json_path.h"
#include "model/json_writer.h"

namespace orv::detail {

// Object members keep their order, duplicates included.
void writeValue(JsonWriter& w, simdjson::dom::element value, const JsonPath& at);

// Same shape, member order, texts and numbers; numbers compare by value, so 1, 1.0 and 1e0
// are equal, and -0.0 differs from 0.0.
bool sameValue(simdjson::dom::element a, simdjson::dom::element b);

}  // namespace orv::detail
