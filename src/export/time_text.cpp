#include "export/drift_engine.hpp"

#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <locale.h>
#include <optional>
#include <vector>

namespace velk::DriftEngine {

namespace {

const char* const kInvalidRate = "Invalid timeline frame rate.";

// Text to a double in the C locale, the whole text consumed; no surrounding spaces.
std::optional<double> parseDecimal(const std::string& text) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text.front()))) return std::nullopt;
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    char* end = nullptr;
    double value = strtod_l(text.c_str(), &end, cLocale);
    if (end != text.c_str() + text.size()) return std::nullopt;
    return value;
}

} // namespace

double fpsValue(std::string_view text) {
    std::vector<std::string> fields;
    std::size_t begin = 0;
    while (begin <= text.size()) {
        std::size_t slash = text.find('/', begin);
        if (slash == std::string_view::npos) slash = text.size();
        if (slash > begin) fields.emplace_back(text.substr(begin, slash - begin));
        begin = slash + 1;
    }
    if (fields.size() == 2) {
        auto numerator = parseDecimal(fields[0]);
        auto denominator = parseDecimal(fields[1]);
        if (numerator && denominator && *denominator > 0) return *numerator / *denominator;
    }
    if (auto whole = parseDecimal(std::string(text)); whole && *whole > 0) return *whole;
    throw DriftExportError::invalid(kInvalidRate);
}

std::string seconds(double value) {
    if (!std::isfinite(value)) return "0s";
    constexpr std::int64_t kLargestDenominator = 1'000'000;
    double x = std::abs(value);
    double a = std::floor(x);
    // Beyond the 64-bit range no fraction can be written; such times are not media times.
    if (a >= 9.2e18) return "0s";

    std::int64_t hPrevious = 1, hBeforePrevious = 0, kPrevious = 0, kBeforePrevious = 1;
    std::int64_t numerator = 0, denominator = 1;
    bool first = true;
    for (;;) {
        const auto whole = static_cast<std::int64_t>(a);
        // The denominator decides whether this convergent is used at all, so it is computed first:
        // the numerator of a convergent that is dropped may not fit 64 bits.
        std::int64_t k = 0, h = 0;
        bool overflow = __builtin_mul_overflow(whole, kPrevious, &k) || __builtin_add_overflow(k, kBeforePrevious, &k);
        if (overflow || k > kLargestDenominator) {
            numerator = hPrevious;
            denominator = kPrevious;
            break;
        }
        if (__builtin_mul_overflow(whole, hPrevious, &h) || __builtin_add_overflow(h, hBeforePrevious, &h)) {
            if (first) return "0s";
            numerator = hPrevious;
            denominator = kPrevious;
            break;
        }
        first = false;
        hBeforePrevious = hPrevious;
        hPrevious = h;
        kBeforePrevious = kPrevious;
        kPrevious = k;
        x = x - a;
        if (x < 1e-12) {
            numerator = h;
            denominator = k;
            break;
        }
        x = 1 / x;
        a = std::floor(x);
    }
    if (denominator < 1) denominator = 1;
    if (value < 0) numerator = -numerator;
    return std::to_string(numerator) + "/" + std::to_string(denominator) + "s";
}

std::string xmlEscape(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': escaped += "&amp;"; break;
        case '"': escaped += "&quot;"; break;
        case '<': escaped += "&lt;"; break;
        case '>': escaped += "&gt;"; break;
        default: escaped += c;
        }
    }
    return escaped;
}

} // namespace velk::DriftEngine
