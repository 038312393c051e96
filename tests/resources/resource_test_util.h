// Paths of the resource test fixtures and a scratch copy of the report
// library for loading it from a directory of the test's choosing.
#ifndef QUIRE_TESTS_RESOURCES_RESOURCE_TEST_UTIL_H_
#define QUIRE_TESTS_RESOURCES_RESOURCE_TEST_UTIL_H_

#include <string>

#include "support/test_support.h"

namespace quire::testing {

// The fixture libraries and the probe program (cmake/resources.cmake).
inline std::string fixture(const std::string& name) { return bin_dir() + "/../resource_fixtures/" + name; }

}  // namespace quire::testing

#endif  // QUIRE_TESTS_RESOURCES_RESOURCE_TEST_UTIL_H_
