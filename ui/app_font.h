#pragma once

// The windows' font: the requested Japanese proportional gothic face at a character height of
// 12 pixels, mapped onto the metric-compatible face that the system has.
class AppFont {
 public:
  static constexpr const char* kRequestedFamily = "ＭＳ Ｐゴシック";
  static constexpr const char* kSubstituteFamily = "IPAPGothic";
  static constexpr int kPixelSize = 12;

  // Registers the substitution and makes the face the application's default font.
  static void Apply();
};
