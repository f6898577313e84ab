#include <gtest/gtest.h>

#include <X11/keysym.h>

#include "host/input/x11/wheel_notch_accumulator.hpp"
#include "host/input/x11/x11_key_table.hpp"
#include "host/x11/xsettings.hpp"

namespace glidemate::host {
namespace {

TEST(WheelNotchAccumulator, CarriesPartsOfANotchAndCapsWildDeltas) {
  WheelNotchAccumulator acc(15);
  using N = WheelNotchAccumulator::Notches;
  EXPECT_EQ(acc.add(7, -7), (N{0, 0}));
  EXPECT_EQ(acc.add(8, -8), (N{1, -1}));
  EXPECT_EQ(acc.add(-44, 31), (N{-2, 2}));
  EXPECT_EQ(acc.add(-1, 0), (N{-1, 0}));  // -14 points carried plus one more
  EXPECT_EQ(acc.add(1e9, -1e9), (N{100, -100}));
  EXPECT_EQ(acc.add(14, 0), (N{0, 0}));    // nothing left over from the capped event
  acc.reset();
  EXPECT_EQ(acc.add(14, std::numeric_limits<double>::quiet_NaN()), (N{0, 0}));
  EXPECT_EQ(acc.add(1, 0), (N{1, 0}));
}

TEST(X11KeyTable, CharactersMapToLatin1OrUnicodeKeysyms) {
  EXPECT_EQ(keysymForCharacter(U'a'), KeySym{XK_a});
  EXPECT_EQ(keysymForCharacter(U'\u00E9'), KeySym{XK_eacute});
  EXPECT_EQ(keysymForCharacter(U'\u6F22'), KeySym{0x01006F22});
  EXPECT_EQ(keysymForCharacter(U'\U0001F44B'), KeySym{0x0101F44B});
  EXPECT_EQ(keysymForCharacter(U'\n'), KeySym{XK_Return});
  EXPECT_EQ(keysymForCharacter(U'\x07'), std::nullopt);
  EXPECT_EQ(keysymForCharacter(U'\x85'), std::nullopt);
  EXPECT_EQ(keysymForVirtualKey(VirtualKey::command), KeySym{XK_Control_L});
  EXPECT_EQ(keysymForVirtualKey(VirtualKey::control), KeySym{XK_Super_L});
  EXPECT_EQ(keysymForVirtualKey(VirtualKey::option), KeySym{XK_Alt_L});
  EXPECT_EQ(keysymForVirtualKey(9999), std::nullopt);
}

// XSETTINGS data: a header, then settings of three kinds.
std::vector<std::uint8_t> settingsData(bool bigEndian) {
  std::vector<std::uint8_t> d;
  const auto u16 = [&](std::uint16_t v) {
    if (bigEndian) d.insert(d.end(), {std::uint8_t(v >> 8), std::uint8_t(v)});
    else d.insert(d.end(), {std::uint8_t(v), std::uint8_t(v >> 8)});
  };
  const auto u32 = [&](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) d.push_back(std::uint8_t(v >> (bigEndian ? 8 * (3 - i) : 8 * i)));
  };
  const auto name = [&](std::string_view n) {
    u16(static_cast<std::uint16_t>(n.size()));
    d.insert(d.end(), n.begin(), n.end());
    d.resize(d.size() + (4 - n.size() % 4) % 4, 0);
    u32(7);  // last-change serial
  };
  d.insert(d.end(), {std::uint8_t(bigEndian ? 1 : 0), 0, 0, 0});
  u32(3);  // serial
  u32(3);  // settings
  d.insert(d.end(), {1, 0});
  name("Net/ThemeName");
  u32(5);
  d.insert(d.end(), {'A', 'd', 'w', 'a', 'i', 0, 0, 0});
  d.insert(d.end(), {2, 0});
  name("Gtk/Color");
  d.insert(d.end(), 8, 0xFF);
  d.insert(d.end(), {0, 0});
  name("Net/DoubleClickTime");
  u32(320);
  return d;
}

TEST(XSettings, FindsAnIntegerOrAStringPastOtherKindsInEitherByteOrder) {
  for (bool bigEndian : {false, true}) {
    const auto data = settingsData(bigEndian);
    EXPECT_EQ(xsettingsInteger(data, "Net/DoubleClickTime"), 320) << bigEndian;
    EXPECT_EQ(xsettingsInteger(data, "Net/ThemeName"), std::nullopt);
    EXPECT_EQ(xsettingsInteger(data, "Net/Missing"), std::nullopt);
    EXPECT_EQ(xsettingsString(data, "Net/ThemeName"), "Adwai") << bigEndian;
    EXPECT_EQ(xsettingsString(data, "Net/DoubleClickTime"), std::nullopt);
    EXPECT_EQ(xsettingsString(data, "Gtk/Color"), std::nullopt);
  }
}

TEST(XSettings, TruncatedDataYieldNothing) {
  const auto data = settingsData(false);
  for (std::size_t cut = 0; cut < data.size(); ++cut) {
    EXPECT_EQ(xsettingsInteger(std::span(data.data(), cut), "Net/DoubleClickTime"), std::nullopt) << cut;
    if (cut < 48) {
      EXPECT_EQ(xsettingsString(std::span(data.data(), cut), "Net/ThemeName"), std::nullopt) << cut;
    }
  }
}

}  // namespace
}  // namespace glidemate::host
