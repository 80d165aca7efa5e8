// The movie header reader walks the boxes of any file the user exports: it may refuse, but must
// not crash, loop or read outside the bytes, and a duration it reports is positive and finite.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "export/movie_header.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    if (auto header = velk::readMovieHeader(in)) {
        if (auto seconds = velk::movieSeconds(*header); seconds && !(std::isfinite(*seconds) && *seconds > 0)) std::abort();
    }
    return 0;
}
