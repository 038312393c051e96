// Paths of the resource test fixtures and the probe program.
#ifndef QUIRE_TESTS_RESOURCES_RESOURCE_TEST_UTIL_H_
#define QUIRE_TESTS_RESOURCES_RESOURCE_TEST_UTIL_H_

#include <string>

#include "support/test_support.h"

namespace quire::testing {

// The fixture libraries and the probe program (cmake/resources.cmake).
inline std::string fixture(const std::string& name) { return bin_dir() + "/../resource_fixtures/" + name; }

// The fixture library base ("fixture-match", ...) by its file name.
inline std::string fixture_library(const std::string& base) { return fixture(library_file(base)); }

}  // namespace quire::testing

#endif  // QUIRE_TESTS_RESOURCES_RESOURCE_TEST_UTIL_H_
