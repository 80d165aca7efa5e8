#include "export/drift_engine.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <ctime>
#include <sys/stat.h>
#include <system_error>

#include "base/files.hpp"
#include "export/alignment_report.hpp"
#include "model/source_manifest.hpp"

namespace velk::DriftEngine {

namespace {

const char* const kFolderPrefix = "Kestova_";
const char* const kSameEventAnchors = "same-event-reference-media-seconds";
constexpr double kPlacementToleranceSeconds = 0.000001;
const char* const kTimelineFile = "timeline.fcpxml";
const char* const kReportFile = "alignment-report.json";
const char* const kManifestFile = "source-manifest.json";
const char* const kClipNote = "Kestova linked A/V timing; verify head, middle and tail in Resolve.";
const char* const kUncarriableName = "A name in this take contains characters that FCPXML cannot carry.";
const char* const kDestinationFull = "Not enough free space on the destination disk.";
const char* const kDestinationOutOfFiles = "The destination disk has no room for more files.";
const char* const kDestinationQuota = "The disk quota for the destination folder is used up.";

struct Prepared {
    const VELKClip* clip = nullptr;
    std::filesystem::path url;
    MediaInfo media;
    DriftCorrection correction;
    std::string digest;
};

struct Placement {
    const Prepared* item = nullptr;
    double start = 0;
    double duration = 0;
    double sourceStart = 0;
    double sourceEnd = 0;
};

// True when every character is one that XML 1.0 allows in a document, and the text is UTF-8.
bool isCarriable(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::uint32_t scalar = 0;
        std::size_t length = 0;
        if (lead < 0x80) { scalar = lead; length = 1; }
        else if (lead >= 0xC2 && lead <= 0xDF) { scalar = lead & 0x1Fu; length = 2; }
        else if (lead >= 0xE0 && lead <= 0xEF) { scalar = lead & 0x0Fu; length = 3; }
        else if (lead >= 0xF0 && lead <= 0xF4) { scalar = lead & 0x07u; length = 4; }
        else return false;
        if (i + length > text.size()) return false;
        for (std::size_t j = 1; j < length; ++j) {
            const auto next = static_cast<unsigned char>(text[i + j]);
            if ((next & 0xC0u) != 0x80u) return false;
            scalar = (scalar << 6) | (next & 0x3Fu);
        }
        const bool overlong = (length == 3 && scalar < 0x800) || (length == 4 && scalar < 0x10000);
        const bool surrogate = scalar >= 0xD800 && scalar <= 0xDFFF;
        if (overlong || surrogate || scalar > 0x10FFFF) return false;
        if (scalar < 0x20 && scalar != 0x09 && scalar != 0x0A && scalar != 0x0D) return false;
        if (scalar == 0xFFFE || scalar == 0xFFFF) return false;
        i += length;
    }
    return true;
}

// Attribute text: the escaped text, with the white space that attribute normalisation would turn
// into plain spaces written as character references.
std::string attribute(std::string_view text) {
    std::string escaped = xmlEscape(text);
    std::string out;
    out.reserve(escaped.size());
    for (char c : escaped) {
        switch (c) {
        case '\t': out += "&#9;"; break;
        case '\n': out += "&#10;"; break;
        case '\r': out += "&#13;"; break;
        default: out += c;
        }
    }
    return out;
}

// The absolute file URL of a local path, percent-encoded as file URLs are.
std::string fileURL(const std::filesystem::path& absolutePath) {
    static const char* const kHex = "0123456789ABCDEF";
    std::string url = "file://";
    for (char c : absolutePath.string()) {
        const auto byte = static_cast<unsigned char>(c);
        const bool kept = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                          (byte >= '0' && byte <= '9') || std::string_view("-._~!$&'()*+,;=:@/").find(c) != std::string_view::npos;
        if (kept) {
            url += c;
        } else {
            url += '%';
            url += kHex[byte >> 4];
            url += kHex[byte & 0x0F];
        }
    }
    return url;
}

std::string timeStamp(WallTime now) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32] = {};
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return text;
}

std::string folderName(const VELKProject& project, const VELKTake& take, WallTime now) {
    std::string name = kFolderPrefix + project.id + "_" + take.id + "_" + timeStamp(now);
    std::replace(name.begin(), name.end(), '/', '-');
    return name;
}

bool pathExists(const std::filesystem::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

// A package is built in a hidden folder beside its final place, named as the temporaries of atomic
// writes are (".Kestova_export.tmp-<16 hexadecimal digits>", never longer than a name the file
// system takes, whatever the package's own name), and moved into place whole.
const char* const kStagingBase = "Kestova_export";

bool isStagingFolderName(std::string_view name) { return files::isTemporaryNameFor(name, kStagingBase); }

bool isPackageFileOrItsTemporary(std::string_view name) {
    for (const char* file : {kTimelineFile, kReportFile, kManifestFile}) {
        if (name == file || files::isTemporaryNameFor(name, file)) return true;
    }
    return false;
}

const char* destinationRefusal(files::DiskRefusal refusal) {
    switch (refusal) {
    case files::DiskRefusal::noSpace:
        return kDestinationFull;
    case files::DiskRefusal::noFiles:
        return kDestinationOutOfFiles;
    case files::DiskRefusal::quota:
        return kDestinationQuota;
    }
    return kDestinationFull;
}

bool equalIgnoringCase(std::string_view left, std::string_view right) {
    return left.size() == right.size() &&
           std::equal(left.begin(), left.end(), right.begin(), [](char l, char r) {
               auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
               return lower(l) == lower(r);
           });
}

double timelineRate(const VELKTake& take) {
    const double rate = fpsValue(take.timelineFPS);
    // A rate the timeline cannot use must be reported as the rate's fault: zero or infinity would
    // otherwise blame a clip, and an enormous rate would write a zero frame duration.
    if (!std::isfinite(rate) || !(rate > 0) || seconds(1 / rate) == "0/1s") {
        throw DriftExportError::invalid("Invalid timeline frame rate.");
    }
    return rate;
}

void requireCarriableNames(const VELKProject& project, const VELKTake& take) {
    bool carriable = isCarriable(project.name) && isCarriable(take.id);
    for (const VELKClip& clip : take.clips) carriable = carriable && isCarriable(clip.cameraId);
    if (!carriable) throw DriftExportError::invalid(kUncarriableName);
}

Prepared prepare(const VELKClip& clip, const std::string& referenceCameraId, MediaProbe& probe) {
    if (!clip.localPath) throw DriftExportError::missing(clip.cameraId + " has not been downloaded.");
    const std::filesystem::path local(*clip.localPath);
    std::error_code error;
    if (!std::filesystem::exists(local, error)) {
        throw DriftExportError::missing("Missing source: " + *clip.localPath);
    }

    Prepared prepared;
    prepared.clip = &clip;
    prepared.url = std::filesystem::absolute(local);
    prepared.digest = sha256(local);
    if (!equalIgnoringCase(prepared.digest, clip.sha256)) {
        throw DriftExportError::invalid("Checksum mismatch for " + clip.cameraId + ".");
    }
    prepared.media = mediaInfo(local, probe);

    if (clip.cameraId == referenceCameraId) {
        prepared.correction = DriftCorrection::identity();
    } else {
        if (clip.anchorMeaning != kSameEventAnchors) {
            throw DriftExportError::invalid(clip.cameraId + " does not have same-event media anchors.");
        }
        prepared.correction = fit(clip.anchors, prepared.media.duration);
    }
    return prepared;
}

Placement place(const Prepared& item, double rate) {
    const double offset = item.correction.offsetSeconds;
    const double speed = item.correction.referenceSecondsPerSourceSecond;
    const double mediaDuration = item.media.duration;
    const std::string& cameraId = item.clip->cameraId;

    const double startFrame = std::ceil(std::max(offset, 0.0) * rate);
    const double endFrame = std::floor((speed * mediaDuration + offset) * rate);
    if (!(endFrame > startFrame)) throw DriftExportError::invalid("No usable media remains for " + cameraId + ".");

    Placement placement;
    placement.item = &item;
    placement.start = startFrame / rate;
    placement.duration = (endFrame - startFrame) / rate;
    placement.sourceStart = (placement.start - offset) / speed;
    if (placement.sourceStart < -kPlacementToleranceSeconds) {
        throw DriftExportError::invalid("Retiming would read outside " + cameraId + ".");
    }
    placement.sourceEnd = placement.duration / speed + placement.sourceStart;
    if (placement.sourceEnd > mediaDuration + kPlacementToleranceSeconds) {
        throw DriftExportError::invalid("Retiming would read outside " + cameraId + ".");
    }
    placement.sourceStart = std::max(placement.sourceStart, 0.0);
    placement.sourceEnd = std::min(placement.sourceEnd, mediaDuration);
    return placement;
}

class Element {
public:
    Element(std::string& out, const char* name) : m_out(out) { m_out += '<'; m_out += name; }
    Element& attr(const char* name, const std::string& value) {
        m_out += ' ';
        m_out += name;
        m_out += "=\"";
        m_out += value;
        m_out += '"';
        return *this;
    }
    void empty() { m_out += "/>"; }
    void open() { m_out += '>'; }

private:
    std::string& m_out;
};

void close(std::string& out, const char* name) {
    out += "</";
    out += name;
    out += '>';
}

std::string timelineDocument(const VELKProject& project, const VELKTake& take,
                             const std::vector<Prepared>& prepared, const std::vector<Placement>& placements,
                             double rate, double timelineLength) {
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE fcpxml>\n";
    Element(out, "fcpxml").attr("version", "1.7").open();
    Element(out, "resources").open();
    Element(out, "format")
        .attr("id", "timeline-format")
        .attr("frameDuration", seconds(1 / rate))
        .attr("width", std::to_string(prepared.front().media.width))
        .attr("height", std::to_string(prepared.front().media.height))
        .empty();
    for (std::size_t index = 0; index < prepared.size(); ++index) {
        const Prepared& item = prepared[index];
        const std::string i = std::to_string(index + 1);
        Element(out, "format")
            .attr("id", "format-" + i)
            .attr("frameDuration", seconds(1 / item.media.fps))
            .attr("width", std::to_string(item.media.width))
            .attr("height", std::to_string(item.media.height))
            .empty();
        Element(out, "asset")
            .attr("id", "asset-" + i)
            .attr("name", attribute(item.clip->cameraId))
            .attr("src", attribute(fileURL(item.url)))
            .attr("start", "0s")
            .attr("duration", seconds(item.media.duration))
            .attr("hasVideo", "1")
            .attr("hasAudio", item.media.hasAudio ? "1" : "0")
            .attr("format", "format-" + i)
            .empty();
    }
    close(out, "resources");

    Element(out, "event").attr("name", attribute(project.name)).open();
    Element(out, "project").attr("name", attribute(take.id)).open();
    Element(out, "sequence")
        .attr("format", "timeline-format")
        .attr("duration", seconds(timelineLength))
        .attr("tcStart", "0s")
        .attr("tcFormat", "NDF")
        .attr("audioLayout", "stereo")
        .attr("audioRate", "48k")
        .open();
    Element(out, "spine").open();
    Element(out, "gap")
        .attr("name", "Kestova take")
        .attr("offset", "0s")
        .attr("start", "0s")
        .attr("duration", seconds(timelineLength))
        .open();
    for (std::size_t index = 0; index < placements.size(); ++index) {
        const Placement& placement = placements[index];
        const std::string i = std::to_string(index + 1);
        Element(out, "asset-clip")
            .attr("ref", "asset-" + i)
            .attr("format", "format-" + i)
            .attr("name", attribute(placement.item->clip->cameraId))
            .attr("lane", i)
            .attr("offset", seconds(placement.start))
            .attr("start", "0s")
            .attr("duration", seconds(placement.duration))
            .attr("srcEnable", "all")
            .open();
        out += "<note>";
        out += kClipNote;
        out += "</note>";
        Element(out, "timeMap").attr("frameSampling", "floor").attr("preservesPitch", "1").open();
        Element(out, "timept")
            .attr("time", "0s")
            .attr("value", seconds(placement.sourceStart))
            .attr("interp", "linear")
            .empty();
        Element(out, "timept")
            .attr("time", seconds(placement.duration))
            .attr("value", seconds(placement.sourceEnd))
            .attr("interp", "linear")
            .empty();
        close(out, "timeMap");
        close(out, "asset-clip");
    }
    close(out, "gap");
    close(out, "spine");
    close(out, "sequence");
    close(out, "project");
    close(out, "event");
    close(out, "fcpxml");
    return out;
}

std::string encodeDocument(const Json& document) {
    return json::write(document, {.pretty = true, .escapeSlash = true});
}

std::string reportDocument(const VELKProject& project, const VELKTake& take, const std::vector<Prepared>& prepared) {
    AlignmentReport report;
    report.schemaVersion = 1;
    report.projectId = project.id;
    report.takeId = take.id;
    report.referenceCameraId = take.referenceCameraId.value_or("");
    report.originalsModified = false;
    report.resolveImportVerified = false;
    for (const Prepared& item : prepared) {
        ExportClipReport clip;
        clip.cameraId = item.clip->cameraId;
        clip.path = item.url.string();
        clip.sha256 = item.digest;
        clip.media = item.media;
        clip.correction = item.correction;
        clip.playbackSpeedPercent = 100 / item.correction.referenceSecondsPerSourceSecond;
        report.clips.push_back(std::move(clip));
    }
    return encodeDocument(Json(report));
}

std::string manifestDocument(const VELKProject& project, const VELKTake& take) {
    SourceManifest manifest;
    manifest.schemaVersion = 1;
    manifest.projectId = project.id;
    manifest.projectName = project.name;
    manifest.projectRevision = project.revision;
    manifest.projectNameAtCapture = take.projectNameAtCapture;
    manifest.projectRevisionAtCapture = take.projectRevisionAtCapture;
    manifest.takeId = take.id;
    manifest.referenceCameraId = take.referenceCameraId.value_or("");
    manifest.timelineFPS = take.timelineFPS;
    for (const VELKClip& clip : take.clips) {
        SourceClip source;
        source.clipId = clip.id;
        source.cameraId = clip.cameraId;
        source.takeId = take.id;
        source.path = clip.localPath.value_or("");
        source.sha256 = clip.sha256;
        source.anchorMeaning = clip.anchorMeaning;
        source.anchors = clip.anchors;
        source.mediaKind = clip.mediaKind;
        source.timingSidecarPath = clip.timingSidecarURL;
        source.timingSidecarSHA256 = clip.timingSidecarSHA256;
        source.deviceId = clip.deviceId;
        source.deviceName = clip.deviceName;
        manifest.clips.push_back(std::move(source));
    }
    return encodeDocument(Json(manifest));
}

struct Document {
    const char* name;
    std::string text;
};

// The package is written and flushed in a staging folder and then moved under its final name,
// which so appears whole or not at all; the move never replaces a folder that appeared since the
// export checked the name. The staging folder goes again on any failure.
void placePackage(const std::vector<Document>& documents, const std::filesystem::path& parent,
                  const std::filesystem::path& folder,
                  const std::function<void(const std::filesystem::path&, std::string_view)>& writeFile) {
    const std::filesystem::path staging = files::temporaryNameFor(parent / kStagingBase);
    // Locked before the next export's sweep can see it, and while it is built.
    const files::UniqueFd building = files::makeLockedFolder(staging);
    try {
        for (const Document& document : documents) writeFile(staging / document.name, document.text);
        files::syncDirectory(staging);
        try {
            files::moveNoReplace(staging, folder);
        } catch (const std::system_error& failure) {
            if (failure.code() == std::errc::file_exists) {
                throw DriftExportError::invalid("Export destination already exists.");
            }
            throw;
        }
    } catch (...) {
        std::error_code ignored;
        std::filesystem::remove_all(staging, ignored);
        throw;
    }
}

} // namespace

std::filesystem::path exportTake(const VELKProject& project, const VELKTake& take,
                                 const std::filesystem::path& parent) {
    return exportTake(project, take, parent, ExportEnvironment{});
}

std::filesystem::path exportTake(const VELKProject& project, const VELKTake& take,
                                 const std::filesystem::path& parent, const ExportEnvironment& environment) {
    MediaProbe& probe = environment.probe ? *environment.probe : LibavMediaProbe::shared();
    const WallTime now = environment.now.value_or(std::chrono::system_clock::now());
    std::function<void(const std::filesystem::path&, std::string_view)> writeFile = environment.writeFile;
    if (!writeFile) {
        writeFile = [](const std::filesystem::path& path, std::string_view data) { files::writeAtomically(path, data); };
    }

    if (take.clips.empty()) throw DriftExportError::missing("The selected take has no clips.");
    const bool hasReference =
        take.referenceCameraId &&
        std::any_of(take.clips.begin(), take.clips.end(),
                    [&](const VELKClip& clip) { return clip.cameraId == *take.referenceCameraId; });
    if (!hasReference) throw DriftExportError::missing("Choose a reference camera before export.");
    const std::string& referenceCameraId = *take.referenceCameraId;
    const double rate = timelineRate(take);
    requireCarriableNames(project, take);

    const std::filesystem::path folder = parent / folderName(project, take, now);
    if (pathExists(folder)) throw DriftExportError::invalid("Export destination already exists.");

    std::vector<Prepared> prepared;
    prepared.reserve(take.clips.size());
    for (const VELKClip& clip : take.clips) prepared.push_back(prepare(clip, referenceCameraId, probe));

    std::vector<Placement> placements;
    placements.reserve(prepared.size());
    double timelineLength = 0;
    for (const Prepared& item : prepared) {
        placements.push_back(place(item, rate));
        timelineLength = std::max(timelineLength, placements.back().start + placements.back().duration);
    }

    const std::vector<Document> documents{
        {kTimelineFile, timelineDocument(project, take, prepared, placements, rate, timelineLength)},
        {kReportFile, reportDocument(project, take, prepared)},
        {kManifestFile, manifestDocument(project, take)},
    };

    // Packages whose export was killed before they were moved into place.
    files::removeStaleFolders(parent, isStagingFolderName, isPackageFileOrItsTemporary);

    try {
        placePackage(documents, parent, folder, writeFile);
    } catch (const std::system_error& failure) {
        // The chosen folder's disk refused the staging folder, a document or the move.
        std::int64_t packageBytes = 0;
        for (const Document& document : documents) packageBytes += static_cast<std::int64_t>(document.text.size());
        const std::optional<files::DiskRefusal> refusal = files::diskRefusalOf(failure, packageBytes, parent);
        if (refusal) throw DriftExportError::invalid(destinationRefusal(*refusal));
        throw;
    }
    // The package is in place and whole; the parent's flush only makes the move survive a crash.
    try {
        files::syncDirectory(parent);
    } catch (const std::system_error&) {
    }
    return folder;
}

} // namespace velk::DriftEngine
