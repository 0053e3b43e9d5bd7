// Names and version texts the windows show.
#pragma once

namespace Console {

inline constexpr const char *ProductName = "Vantoro";
inline constexpr const char *MakerName = "Stelvanor";
inline constexpr const char *VersionText = "Version 2.10";
// Window caption of the start-up and main windows: prefix + version.
inline constexpr const char *CaptionPrefix = "Stelvanor Vantoro ";
inline constexpr const char *MakerLink = "https://www.stelvanor.example/";

} // namespace Console
