// Numbers as the tool reads and writes them: the file converters' own rules.
#pragma once

#include "fileconv/text_number.h"

namespace orvloc {

using orv::fileconv::formatNumber;
using orv::fileconv::parseNumber;

}  // namespace orvloc
