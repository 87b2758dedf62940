// The block transform against the published Blowfish vectors (stated with
// big-endian halves, so each half is reversed on the way in and out), and
// its argument rules.
#include "file/tqProtect.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/tqTestSupport.h"

namespace {

std::vector<uint8_t> Hex(const char* text) {
  std::vector<uint8_t> out;
  for (size_t i = 0; text[i] && text[i + 1]; i += 2)
    out.push_back((uint8_t)std::stoi(std::string(text + i, 2), nullptr, 16));
  return out;
}

// Big-endian halves of a published vector to the transform's byte order.
void SwapHalves(uint8_t* block) {
  std::swap(block[0], block[3]);
  std::swap(block[1], block[2]);
  std::swap(block[4], block[7]);
  std::swap(block[5], block[6]);
}

struct Vector {
  const char* key;
  const char* plain;
  const char* cipher;
};

void CheckVector(const Vector& v) {
  std::vector<uint8_t> key = Hex(v.key), plain = Hex(v.plain), cipher = Hex(v.cipher);
  tqProtect protect;
  ASSERT_EQ(1, protect.SetKey(key.data(), (uint32_t)key.size()));
  uint8_t block[8];
  memcpy(block, plain.data(), 8);
  SwapHalves(block);
  ASSERT_EQ(8, protect.Encrypt(block, block, 8));
  SwapHalves(block);
  EXPECT_EQ(0, memcmp(block, cipher.data(), 8)) << "key " << v.key;
  SwapHalves(block);
  ASSERT_EQ(8, protect.Decrypt(block, block, 8));
  SwapHalves(block);
  EXPECT_EQ(0, memcmp(block, plain.data(), 8)) << "key " << v.key;
  // Runs of blocks go through the rounds several at a time, then one by
  // one: every block of a run of 7 must still give the vector.
  uint8_t run[56];
  for (int i = 0; i < 7; ++i) {
    memcpy(run + 8 * i, plain.data(), 8);
    SwapHalves(run + 8 * i);
  }
  uint8_t out[56];
  ASSERT_EQ(56, protect.Encrypt(out, run, 56));
  for (int i = 0; i < 7; ++i) {
    SwapHalves(out + 8 * i);
    EXPECT_EQ(0, memcmp(out + 8 * i, cipher.data(), 8)) << "key " << v.key << " block " << i;
    SwapHalves(out + 8 * i);
  }
  ASSERT_EQ(56, protect.Decrypt(out, out, 56));
  EXPECT_EQ(0, memcmp(out, run, 56)) << "key " << v.key;
}

TEST(tqProtect, PublishedVectors) {
  static const Vector vectors[] = {
      {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
      {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
      {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
      {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
      {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
      {"1111111111111111", "0123456789ABCDEF", "7D0CC630AFDA1EC7"},
      {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
      {"7CA110454A1A6E57", "01A1D6D039776742", "59C68245EB05282B"},
      {"0131D9619DC1376E", "5CD54CA83DEF57DA", "B1B8CC0B250F09A0"},
      {"07A1133E4A0B2686", "0248D43806F67172", "1730E5778BEA1DA4"},
      {"3849674C2602319E", "51454B582DDF440A", "A25E7856CF2651EB"},
      {"04B915BA43FEB5B6", "42FD443059577FA2", "353882B109CE8F1A"},
      {"0113B970FD34F2CE", "059B5E0851CF143A", "48F4D0884C379918"},
      {"0170F175468FB5E6", "0756D8E0774761D2", "432193B78951FC98"},
      {"43297FAD38E373FE", "762514B829BF486A", "13F04154D69D1AE5"},
      {"07A7137045DA2A16", "3BDD119049372802", "2EEDDA93FFD39C79"},
      {"04689104C2FD3B2F", "26955F6835AF609A", "D887E0393C2DA6E3"},
      {"37D06BB516CB7546", "164D5E404F275232", "5F99D04F5B163969"},
      {"1F08260D1AC2465E", "6B056E18759F5CCA", "4A057A3B24D3977B"},
      {"584023641ABA6176", "004BD6EF09176062", "452031C1E4FADA8E"},
      {"025816164629B007", "480D39006EE762F2", "7555AE39F59B87BD"},
      {"49793EBC79B3258F", "437540C8698F3CFA", "53C55F9CB49FC019"},
      {"4FB05E1515AB73A7", "072D43A077075292", "7A8E7BFA937E89A3"},
      {"49E95D6D4CA229BF", "02FE55778117F12A", "CF9C5D7A4986ADB5"},
      {"018310DC409B26D6", "1D9D5C5018F728C2", "D1ABB290658BC778"},
      {"1C587F1C13924FEF", "305532286D6F295A", "55CB3774D13EF201"},
  };
  for (const Vector& v : vectors) CheckVector(v);
}

// The variable-key set: prefixes of one 24-byte key, one plaintext.
TEST(tqProtect, VariableKeyLengths) {
  static const char* const ciphers[24] = {
      "F9AD597C49DB005E", "E91D21C1D961A6D6", "E9C2B70A1BC65CF3", "BE1E639408640F05",
      "B39E44481BDB1E6E", "9457AA83B1928C0D", "8BB77032F960629D", "E87A244E2CC85E82",
      "15750E7A4F4EC577", "122BA70B3AB64AE0", "3A833C9AFFC537F6", "9409DA87A90F6BF2",
      "884F80625060B8B4", "1F85031C19E11968", "79D9373A714CA34F", "93142887EE3BE15C",
      "03429E838CE2D14B", "A4299E27469FF67B", "AFD5AED1C1BC96A8", "10851C0E3858DA9F",
      "E6F51ED79B9DB21F", "64A6E14AFD36B46F", "80C7D7D45A5479AD", "05044B62FA52D080",
  };
  const char* key = "F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677";
  for (int length = 1; length <= 24; ++length) {
    std::string prefix(key, (size_t)length * 2);
    CheckVector({prefix.c_str(), "FEDCBA9876543210", ciphers[length - 1]});
  }
}

TEST(tqProtect, BlocksAreIndependentAndInPlaceWorks) {
  tqProtect protect;
  ASSERT_EQ(1, protect.SetKey("archive", 7));
  uint8_t data[16], copy[16];
  for (int i = 0; i < 16; ++i) data[i] = (uint8_t)(i % 8 * 31);  // two equal blocks
  memcpy(copy, data, 16);
  EXPECT_EQ(16, protect.Encrypt(data, data, 16));
  EXPECT_NE(0, memcmp(data, copy, 8));
  EXPECT_EQ(0, memcmp(data, data + 8, 8));  // no chaining
  uint8_t separate[16];
  EXPECT_EQ(16, protect.Decrypt(separate, data, 16));
  EXPECT_EQ(0, memcmp(separate, copy, 16));
  EXPECT_EQ(16, protect.Decrypt(data, data, 16));
  EXPECT_EQ(0, memcmp(data, copy, 16));
  EXPECT_TRUE(tqtest::Diagnostics().lines.empty());
}

TEST(tqProtect, RefusedArguments) {
  tqProtect protect;
  uint8_t data[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  uint8_t before[16];
  memcpy(before, data, sizeof data);
  // No key yet: 0 without a message.
  EXPECT_EQ(0, protect.Decrypt(data, data, 16));
  EXPECT_EQ(0, protect.Encrypt(data, data, 16));
  EXPECT_TRUE(tqtest::Diagnostics().lines.empty());
  EXPECT_EQ(0, protect.SetKey(nullptr, 4));
  EXPECT_EQ(0, protect.SetKey("k", 0));
  ASSERT_EQ(1, protect.SetKey("k", 1));
  EXPECT_EQ(0, protect.Decrypt(nullptr, data, 16));
  EXPECT_EQ(0, protect.Decrypt(data, nullptr, 16));
  EXPECT_EQ(0, protect.Decrypt(data, data, 0));
  EXPECT_TRUE(tqtest::Diagnostics().lines.empty());
  EXPECT_EQ(0, protect.Decrypt(data, data, 12));
  EXPECT_EQ(0, protect.Encrypt(data, data, 12));
  EXPECT_EQ(0, memcmp(data, before, sizeof data));
  ASSERT_EQ(2u, tqtest::Diagnostics().lines.size());
  EXPECT_EQ("tqProtect : データサイズは8バイト単位である必要があります",
            tqtest::Diagnostics().lines[0]);
}

TEST(tqProtect, RekeyingAndLongKeys) {
  uint8_t key[80];
  for (int i = 0; i < 80; ++i) key[i] = (uint8_t)(i * 7 + 1);
  uint8_t a[8] = {1, 2, 3, 4, 5, 6, 7, 8}, b[8], c[8];
  memcpy(b, a, 8);
  memcpy(c, a, 8);
  tqProtect first, fresh;
  ASSERT_EQ(1, first.SetKey("other key", 9));
  ASSERT_EQ(1, first.SetKey(key, 80));  // re-keys the same state
  ASSERT_EQ(1, fresh.SetKey(key, 72));  // bytes past 72 do not count
  first.Encrypt(a, a, 8);
  fresh.Encrypt(b, b, 8);
  EXPECT_EQ(0, memcmp(a, b, 8));
  fresh.SetKey(key, 71);
  fresh.Encrypt(c, c, 8);
  EXPECT_NE(0, memcmp(a, c, 8));
}

}  // namespace
