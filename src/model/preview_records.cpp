#include "model/preview_records.hpp"

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include <locale.h>

#include "base/unicode.hpp"
#include "model/hashing.hpp"

namespace velk {

namespace {

constexpr std::string_view kH264Codec = "h264";
constexpr std::string_view kH264Transport = "h264-avcc-tcp-v1";
constexpr std::string_view kJPEGTransport = "jpeg-tcp-v1";
constexpr std::int64_t kPersistentLowMode = 4;
constexpr std::int64_t kPersistentHighMode = 5;

template <class T>
bool containsBoth(const std::set<T>& values, const T& a, const T& b) {
    return values.contains(a) && values.contains(b);
}

bool equalsIgnoringASCIICase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// Blanks: the Unicode space separators (Zs) and the tab; line breaks are not blanks.
bool isBlank(char32_t c) {
    return c == U'\t' || c == U' ' || c == 0x00A0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

std::string trimmedBlanks(std::string_view side) {
    std::vector<char32_t> scalars = text::scalars(side);
    std::size_t begin = 0, end = scalars.size();
    while (begin < end && isBlank(scalars[begin])) ++begin;
    while (end > begin && isBlank(scalars[end - 1])) --end;
    return text::fromScalars(std::vector<char32_t>(scalars.begin() + static_cast<std::ptrdiff_t>(begin),
                                                   scalars.begin() + static_cast<std::ptrdiff_t>(end)));
}

// A whole side read as a floating-point number with "." as the decimal separator whatever the
// user's locale: decimal and hexadecimal forms, inf, infinity and nan.
std::optional<double> readNumber(const std::string& side) {
    static locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    if (side.empty() || cLocale == static_cast<locale_t>(nullptr)) return std::nullopt;
    unsigned char first = static_cast<unsigned char>(side.front());
    // strtod would skip leading white space (line breaks included); the whole side must be a number.
    if (first == ' ' || (first >= '\t' && first <= '\r')) return std::nullopt;
    char* end = nullptr;
    double value = strtod_l(side.c_str(), &end, cLocale);
    if (end != side.c_str() + side.size()) return std::nullopt;
    return value;
}

// "×" and "x" in either case all separate the two sides like ":".
std::string unifiedSeparators(std::string_view aspect) {
    constexpr std::string_view kMultiplicationSign = "\u00D7";
    std::string out;
    out.reserve(aspect.size());
    for (std::size_t i = 0; i < aspect.size(); ++i) {
        if (aspect.substr(i, kMultiplicationSign.size()) == kMultiplicationSign) {
            out += ':';
            i += kMultiplicationSign.size() - 1;
        } else if (aspect[i] == 'x' || aspect[i] == 'X') {
            out += ':';
        } else {
            out += aspect[i];
        }
    }
    return out;
}

} // namespace

bool PreviewCapabilities::isAdvertised() const { return version.has_value(); }

bool PreviewCapabilities::advertisesH264() const {
    return codecs.contains(std::string(kH264Codec)) && transports.contains(std::string(kH264Transport));
}

bool PreviewCapabilities::supportsPersistentJPEG() const {
    return transports.contains(std::string(kJPEGTransport)) &&
           containsBoth(persistentModes, kPersistentLowMode, kPersistentHighMode);
}

bool PreviewTransportStatus::isAdvertised() const { return codec.has_value() || !modes.empty(); }

bool PreviewTransportStatus::supportsPersistentJPEG() const {
    return codec && equalsIgnoringASCIICase(*codec, "JPEG") && containsBoth(modes, kPersistentLowMode, kPersistentHighMode);
}

namespace CameraFrameOrientation {

int normalized(std::int64_t degrees) {
    auto r = degrees % 360;
    if (r < 0) r += 360;
    return static_cast<int>(r);
}

std::optional<bool> isLandscape(std::string_view aspect) {
    const std::string unified = unifiedSeparators(aspect);

    std::vector<std::string> sides;
    std::size_t start = 0;
    while (start <= unified.size()) {
        std::size_t colon = unified.find(':', start);
        if (colon == std::string::npos) colon = unified.size();
        if (colon > start) sides.push_back(unified.substr(start, colon - start));
        start = colon + 1;
    }
    if (sides.size() != 2) return std::nullopt;

    auto first = readNumber(trimmedBlanks(sides[0]));
    auto second = readNumber(trimmedBlanks(sides[1]));
    if (!first || !second) return std::nullopt;
    // Comparisons with NaN are false, so "nan" sides fall out here.
    if (!(*first > 0) || !(*second > 0)) return std::nullopt;
    if (*first == *second) return std::nullopt;
    return *first > *second;
}

namespace {

// Steps shared by effectiveRotation and PreviewRotationState::update, on an already normalised r.
int uprightRotation(int r, double width, double height, std::string_view aspect) {
    if (r != 90 && r != 270) return r;
    if (!(width > 0) || !(height > 0) || std::fabs(width - height) <= 0.5) return r;
    auto land = isLandscape(aspect);
    if (!land) return r;
    if ((width > height) == *land) return 0;
    return r;
}

} // namespace

int effectiveRotation(double imageWidth, double imageHeight, std::string_view declaredAspect,
                      std::int64_t advertisedRotation) {
    return uprightRotation(normalized(advertisedRotation), imageWidth, imageHeight, declaredAspect);
}

} // namespace CameraFrameOrientation

void PreviewRotationState::update(const std::string& id, std::int64_t advertised, std::string_view aspect, double width,
                                  double height, bool recording, bool explicitGeometry) {
    if (recording && locked.contains(id)) return;
    int r = CameraFrameOrientation::normalized(advertised);
    if (!explicitGeometry) r = CameraFrameOrientation::effectiveRotation(width, height, aspect, r);
    auto correction = m_corrections.find(id);
    int v = CameraFrameOrientation::normalized(r + (correction == m_corrections.end() ? 0 : correction->second));
    if (recording) {
        rotations.try_emplace(id, v);
        locked.insert(id);
    } else {
        locked.erase(id);
        rotations[id] = v;
    }
}

bool PreviewRotationState::rotate(const std::string& id) {
    if (locked.contains(id)) return false;
    int& correction = m_corrections[id];
    correction = CameraFrameOrientation::normalized(correction + 90);
    int& rotation = rotations[id];
    rotation = CameraFrameOrientation::normalized(rotation + 90);
    return true;
}

} // namespace velk

std::size_t std::hash<velk::PreviewCapabilities>::operator()(const velk::PreviewCapabilities& c) const noexcept {
    return velk::hashing::Hasher{}
        .add(c.version)
        .add(c.transports)
        .add(c.codecs)
        .add(c.requestModes)
        .add(c.persistentModes)
        .add(c.wifiBandGHz)
        .add(c.usableMbps)
        .value();
}

std::size_t std::hash<velk::PreviewTransportStatus>::operator()(const velk::PreviewTransportStatus& s) const noexcept {
    return velk::hashing::Hasher{}
        .add(s.modes)
        .add(s.codec)
        .add(s.policy)
        .add(s.wallTargetFPS)
        .add(s.selectedTargetFPS)
        .add(s.thermalLevel)
        .add(s.connections)
        .add(s.deliveryLimitedClients)
        .add(s.pendingEncodeJobs)
        .add(s.encodeCounters)
        .add(s.band)
        .add(s.capacityMeasured)
        .add(s.fullStream4K)
        .value();
}
