// The program's own data carried in the binary: the logo, the completion
// cue and the nine menu icons (made by scripts/make_resources.py).
//
// Each accessor answers the whole file as read-only bytes that live as long
// as the program. Any thread.
#pragma once

#include <cstdint>
#include <span>

namespace pixmoor::app::resources {

std::span<const std::uint8_t> logoPng();    // PNG, 275 x 47
std::span<const std::uint8_t> chimeWave();  // RIFF/WAVE, 2 channels, 22050 Hz, 16 bits
std::span<const std::uint8_t> informationIcon();
std::span<const std::uint8_t> donateIcon();
std::span<const std::uint8_t> updateIcon();
std::span<const std::uint8_t> visitIcon();
std::span<const std::uint8_t> frenchIcon();
std::span<const std::uint8_t> englishIcon();
std::span<const std::uint8_t> dutchIcon();
std::span<const std::uint8_t> spanishIcon();
std::span<const std::uint8_t> desktopIcon();

}  // namespace pixmoor::app::resources
