// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/runtime/windows/KeyChar.h"

#include <array>

#include "platform/runtime/windows/Events.h"

namespace rt {

namespace {

struct CharacterKey {
  int code;
  char plain;
  char shifted;
};

// The keys that type something other than a letter.
constexpr std::array<CharacterKey, 37> kKeys = {{
    {key::kSpace, ' ', ' '},
    {'0', '0', ')'},
    {'1', '1', '!'},
    {'2', '2', '@'},
    {'3', '3', '#'},
    {'4', '4', '$'},
    {'5', '5', '%'},
    {'6', '6', '^'},
    {'7', '7', '&'},
    {'8', '8', '*'},
    {'9', '9', '('},
    // The number pad.
    {0x60, '0', 0},
    {0x61, '1', 0},
    {0x62, '2', 0},
    {0x63, '3', 0},
    {0x64, '4', 0},
    {0x65, '5', 0},
    {0x66, '6', 0},
    {0x67, '7', 0},
    {0x68, '8', 0},
    {0x69, '9', 0},
    {0x6A, '*', 0},
    {0x6B, '+', 0},
    {0x6D, '-', 0},
    {0x6E, '.', 0},
    {0x6F, '/', 0},
    // Punctuation.
    {0xBA, ';', ':'},
    {0xBB, '=', '+'},
    {0xBC, ',', '<'},
    {0xBD, '-', '_'},
    {0xBE, '.', '>'},
    {0xBF, '/', '?'},
    {0xC0, '`', '~'},
    {0xDB, '[', '{'},
    {0xDC, '\\', '|'},
    {0xDD, ']', '}'},
    {0xDE, '\'', '"'},
}};

bool OnNumberPad(int code) {
  return code >= 0x60 && code <= 0x6F;
}

}  // namespace

char KeyChar(int keyCode) {
  if (keyCode & ~(0xFF | key::kShift)) return 0;  // Ctrl, Alt or a mouse release
  const bool shift = (keyCode & key::kShift) != 0;
  const int base = keyCode & 0xFF;
  if (base >= 'A' && base <= 'Z') return static_cast<char>(shift ? base : base - 'A' + 'a');
  for (const CharacterKey& k : kKeys)
    if (k.code == base) return shift ? k.shifted : k.plain;
  return 0;
}

int CharKey(char c) {
  if (c >= 'a' && c <= 'z') return c - 'a' + 'A';
  if (c >= 'A' && c <= 'Z') return key::kShift + c;
  if (c == ' ') return key::kSpace;
  // A character the number pad also types is reported as its main key's.
  for (const CharacterKey& k : kKeys) {
    if (OnNumberPad(k.code)) continue;
    if (k.plain == c) return k.code;
    if (k.shifted == c) return key::kShift + k.code;
  }
  return 0;
}

const std::vector<int>& CharacterKeys() {
  static const std::vector<int> keys = [] {
    std::vector<int> out;
    for (int c = 'A'; c <= 'Z'; ++c) {
      out.push_back(c);
      out.push_back(key::kShift + c);
    }
    for (const CharacterKey& k : kKeys) {
      out.push_back(k.code);
      if (k.shifted != 0) out.push_back(key::kShift + k.code);
    }
    return out;
  }();
  return keys;
}

}  // namespace rt
