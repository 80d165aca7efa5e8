#pragma once
// Every fixed text the Library window shows, in one place.

namespace velk::library_text {

// Window and sidebar.
inline constexpr const char* windowTitle = "Kestova Library";
inline constexpr const char* sidebarTitle = "Library";
inline constexpr const char* projectsSuffix = " projects";
inline constexpr const char* takesSuffix = " takes";
inline constexpr const char* searchPlaceholder = "Search projects";
// The search field's clear button, drawn as a symbol.
inline constexpr const char* clearSearch = "Clear search";
inline constexpr const char* projectsSection = "PROJECTS";
inline constexpr const char* newButton = "New";
inline constexpr const char* renameButton = "Rename";
inline constexpr const char* collectButton = "Collect";
inline constexpr const char* collectHelp = "Collect verified recordings directly from up to eight phones on the private LAN";
inline constexpr const char* wifiButton = "Wi-Fi QR";
inline constexpr const char* wifiHelp = "Join Wi-Fi from a QR image or show a QR for confirmed network details";
inline constexpr const char* directorButton = "Director";
// What a screen reader calls the sidebar's project list and the take list.
inline constexpr const char* projectsList = "Projects";
inline constexpr const char* takesList = "Takes";

// Project sheets and the alert.
inline constexpr const char* newProjectTitle = "New Kestova Project";
inline constexpr const char* projectNamePlaceholder = "Project name";
inline constexpr const char* cancel = "Cancel";
inline constexpr const char* create = "Create";
inline constexpr const char* renameProjectTitle = "Rename Project";
inline constexpr const char* renameProjectNote = "The stable project ID stays unchanged; the project revision increases.";
inline constexpr const char* alertTitle = "Kestova";
inline constexpr const char* ok = "OK";

// Toolbar, Project menu and the source-trash confirmation.
inline constexpr const char* toolbarDirectorHelp = "Open the live Director workspace";
inline constexpr const char* importManifest = "Import Manifest";
inline constexpr const char* importManifestHelp = "Import an existing Kestova-compatible source manifest";
inline constexpr const char* downloadTake = "Download Take";
inline constexpr const char* downloadTakeHelp = "Resume and verify every pending camera recording in this take";
inline constexpr const char* projectMenu = "Project";
inline constexpr const char* projectMenuHelp = "Download the whole project or verify copies before moving sources to Trash";
inline constexpr const char* projectMenuAccessible = "Project actions";
inline constexpr const char* exportForResolve = "Export for Resolve";
inline constexpr const char* exportForResolveHelp = "Create a new non-destructive Resolve package";
inline constexpr const char* downloadWholeProject = "Download Whole Project";
inline constexpr const char* moveSourceToTrash = "Move Source Project to Trash\u2026";
inline constexpr const char* trashTitle = "Move the copied project on its source devices to recoverable Trash?";
inline constexpr const char* trashMessage =
    "Every video and timing file is rechecked first. Copies on this computer remain untouched. If a source changed, "
    "removal stops. Earlier completed removals remain recoverable on those devices.";
inline constexpr const char* trashConfirm = "Verify Copies & Move Sources to Trash";
inline constexpr const char* importPanelTitle = "Import Kestova Source Manifest";
inline constexpr const char* exportPanelTitle = "Choose Parent Folder for Resolve Export";

// Wi-Fi guard.
inline constexpr const char* wifiBusy = "Finish the active project download, export, or source operation before changing Wi-Fi.";
inline constexpr const char* wifiRecording = "Stop recording on all online cameras before changing Wi-Fi.";
inline constexpr const char* wifiTakeBusy = "Wait for camera take preparation or finalization to finish before changing Wi-Fi.";
inline constexpr const char* wifiUnavailable = "Wi-Fi changes are temporarily unavailable.";

// Collect from Cameras.
inline constexpr const char* collectTitle = "Collect from Cameras";
inline constexpr const char* collectSubtitle =
    "Direct private-LAN collection. Each phone stays foreground in Transfer Mode; cloud upload is not used.";
inline constexpr const char* scanAgain = "Scan Again";
inline constexpr const char* requireSecure = "Require secure transfer pairing";
inline constexpr const char* requireSecureHelp =
    "Off by default: open-sharing cameras need no code. Older or secure cameras still require pairing. This setting "
    "applies to project files, not live camera control.";
inline constexpr const char* activeSessions = "ACTIVE SESSIONS";
inline constexpr const char* openLAN = "Open LAN";
inline constexpr const char* paired = "Paired";
inline constexpr const char* expiresJoin = " \u2022 expires ";
inline constexpr const char* returnToCamera = "Return to Camera";
inline constexpr const char* returnAllToCamera = "Return All to Camera";
inline constexpr const char* collectStatus = "COLLECT STATUS";
inline constexpr const char* camerasInTransferMode = "CAMERAS IN TRANSFER MODE";
inline constexpr const char* upToEight = "Up to eight foreground sources";
inline constexpr const char* loadAllOpen = "Load All Open Sources";
inline constexpr const char* capabilityOpen = "Open LAN \u2022 HTTPS \u2022 foreground only";
inline constexpr const char* capabilitySecure = "Secure pairing \u2022 HTTPS";
inline constexpr const char* capabilityIncomplete = "Incomplete transfer advertisement";
inline constexpr const char* scanning = "Scanning for Kestova project sharing\u2026";
inline constexpr const char* scanningWithCameras = "Choose a live camera and approve the request on that device.";
inline constexpr const char* scanningWithout = "Keep Kestova open on the same trusted Wi-Fi network.";
inline constexpr const char* askToShare = "Ask to share files";
inline constexpr const char* verifyOnBoth = "VERIFY ON BOTH SCREENS";
inline constexpr const char* fingerprintMatches = "This 128-bit fingerprint matches the fingerprint shown on the phone";
inline constexpr const char* codePlaceholder = "Six-digit code from phone";
inline constexpr const char* codeFieldName = "Pairing code"; // what a screen reader calls the code field
inline constexpr const char* codeNote =
    "The code is single-use. The read-only authorization stays only in memory and is cancelled on background, path "
    "change, expiry or transfer failure.";
inline constexpr const char* collectFooter = "Trusted private LAN \u2022 pinned HTTPS \u2022 resumable verified copies";
inline constexpr const char* close = "Close";
inline constexpr const char* loadProjects = "Load Projects";
inline constexpr const char* pairAndLoad = "Pair & Load Projects";

// Take list.
inline constexpr const char* noProject = "No Project";
inline constexpr const char* noProjectDetail = "Create a project or connect to a phone catalog.";
inline constexpr const char* noTakesYet = "No takes yet";
inline constexpr const char* camerasJoin = " cameras  \u2022  ";
inline constexpr const char* fpsSuffix = " fps";

// Dashboard.
inline constexpr const char* selectTake = "Select a Take";
inline constexpr const char* selectTakeDetail = "Choose a project and take, or import a source manifest.";
inline constexpr const char* takePrefix = "Take ";
inline constexpr const char* ready = "READY";
inline constexpr const char* mediaPending = "MEDIA PENDING";
inline constexpr const char* takeView = "Take view";
inline constexpr const char* metricCameras = "CAMERAS";
inline constexpr const char* metricOnComputer = "ON COMPUTER";
inline constexpr const char* metricTimeline = "TIMELINE";
inline constexpr const char* takeReadiness = "Take readiness";
inline constexpr const char* takeDetails = "Take details";
inline constexpr const char* readyProjectIdentity = "Project identity";
inline constexpr const char* readyRecordings = "Camera recordings";
inline constexpr const char* readyDownloads = "Verified downloads";
inline constexpr const char* readyReference = "Reference camera";
inline constexpr const char* readyAnchors = "Timing anchors";
inline constexpr const char* detailTakeID = "Take ID";
inline constexpr const char* detailFrameRate = "Frame rate";
inline constexpr const char* detailReference = "Reference";
inline constexpr const char* notSelected = "Not selected";
inline constexpr const char* detailCapturedAs = "Captured as";
inline constexpr const char* detailManifest = "Manifest";
inline constexpr const char* manifestImported = "Imported";
inline constexpr const char* manifestCatalog = "Catalog / local library";
inline constexpr const char* camerasAndRecordings = "Cameras & recordings";
inline constexpr const char* noRecordings = "No recordings";
inline constexpr const char* noRecordingsDetail = "Import a manifest or connect to a phone catalog.";
inline constexpr const char* transfers = "Transfers";
// How an activity entry that reports a failure describes itself to assistive tools (its icon is red).
inline constexpr const char* activityFailed = "Failed";
inline constexpr const char* noTransfers = "No active transfers";
inline constexpr const char* noTransfersDetail = "Downloads and verification progress appear here.";
inline constexpr const char* resolvePackage = "DaVinci Resolve package";
inline constexpr const char* linkedRetiming = "Linked video and audio retiming";
inline constexpr const char* originalsUntouched = "Original recordings remain untouched";
inline constexpr const char* weakAnchorsFail = "Weak or network-clock-only anchors fail closed";
inline constexpr const char* exportCreates =
    "Export creates timeline.fcpxml, alignment-report.json and source-manifest.json in a new non-clobbering folder.";
inline constexpr const char* mediaPresent = "Media is present on this computer";
inline constexpr const char* downloadAllFirst = "Download all camera media before export";
inline constexpr const char* acceptanceCheck = "Acceptance check";
inline constexpr const char* afterImporting = "After importing into Resolve:";
inline constexpr const char* checkHead = "Check head sync";
inline constexpr const char* checkMiddle = "Check middle sync";
inline constexpr const char* checkTail = "Check tail sync";
inline constexpr const char* checkPitch = "Confirm pitch and relinking";
inline constexpr const char* reportUnverified =
    "The alignment report remains unverified until these checks are completed with representative media.";
inline constexpr const char* recentActivity = "Recent activity";
inline constexpr const char* noActivity = "No activity yet";
inline constexpr const char* noActivityDetail = "Imports, downloads and exports appear here.";

// View kit.
inline constexpr const char* readyWord = "Ready";
inline constexpr const char* pendingWord = "Pending";
inline constexpr const char* verifiedOnComputer = "Verified on computer";
inline constexpr const char* onDevice = "On device";
inline constexpr const char* anchorsSuffix = " anchors";
inline constexpr const char* useAsReference = "Use as reference";
inline constexpr const char* referencePill = "REFERENCE";
// A clip's row as a screen reader reads it ends with whether its camera is the take's reference.
inline constexpr const char* referenceSpoken = "reference camera";
inline constexpr const char* notReferenceSpoken = "not the reference";
inline constexpr const char* referenceNowSuffix = " is now the reference camera.";

} // namespace velk::library_text
