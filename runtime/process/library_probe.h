// Optional libraries probed at start-up: the imaging library, kept loaded
// until shutdown, and the common-controls and theme libraries, loaded only
// to decide whether visual styles are active. A library or entry point that
// is missing only leaves its values at 0 or null.
#pragma once

#include "runtime/base.h"

// msimg32.dll, loaded by LibraryProbe and freed by LibraryRelease; null when
// it does not load.
extern HMODULE ImagingLibrary;
// Its "AlphaBlend" entry point, or null.
extern FARPROC AlphaBlendEntry;
// 1 when the common controls are version 6.0 or later and the application is
// themed, else 0.
extern int32_t VisualStylesActive;

// Common-controls version as (major << 16) | minor.
constexpr uint32_t COMMON_CONTROLS_UNKNOWN = 1;
constexpr uint32_t COMMON_CONTROLS_STYLED = 0x60000;  // 6.0

// The facts behind the visual-styles decision. The decision asks each at
// most once and only when it still matters, so that a system that rules
// visual styles out by its version never loads the other libraries.
struct VisualStylesSources {
    // GetVersionExA on a record whose size field is already 148; false when
    // the call fails.
    bool (*systemVersion)(OSVERSIONINFOA* info);
    // "DllGetVersion" of "COMCTL32.DLL" as (major << 16) | minor, or
    // COMMON_CONTROLS_UNKNOWN when the library, the entry or the call fails.
    uint32_t (*commonControlsVersion)();
    // "IsAppThemed" of "uxtheme.dll": its result, or 0 when the library or
    // the entry is missing.
    int32_t (*applicationThemed)();
};

// The system's own sources (each library is freed again after its question).
extern const VisualStylesSources SystemVisualStyles;

// 1 when the version check allows visual styles and VisualStylesProbe
// reports them. Platform 1, or platform 2 below 5.0, ends the decision with
// 0 without probing; platform 2 version 5.0 gives 0; a failed version query
// leaves the decision to the probe.
int32_t VisualStylesDecide(const VisualStylesSources* sources);
// Asks the common-controls version, then the theme: 1 when themed and the
// version is at least 6.0.
int32_t VisualStylesProbe(const VisualStylesSources* sources);

// Loads the imaging library and sets the three values above.
void LibraryProbe();
// Frees the imaging library; the call is made (and fails) when it is null.
void LibraryRelease();
