#pragma once
// Where this build's sources and outputs are: for tests and benchmarks that start the project's
// scripts or simulated phones, read a reference file or save screenshots. Only build_paths.cpp
// knows the clone's folders, so no other file's compiled form depends on where the clone is, and
// the compiler cache serves it to every clone.

#include <string>
#include <string_view>

namespace velk::test {

// The project's root folder, joined with a path relative to it ("tests/sim/sim_camera.py").
std::string sourcePath(std::string_view relative);
// The build folder, joined with a path relative to it ("screenshots").
std::string binaryPath(std::string_view relative);

} // namespace velk::test
