#pragma once
// Tests name the plain-file sector source from here.

#include "sources/FileSectorSource.h"

namespace corvan::test {
using corvan::FileSectorSource;
}  // namespace corvan::test
