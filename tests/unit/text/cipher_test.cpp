#include "text/cipher.h"

#include <gtest/gtest.h>

#include <string>

namespace tv::cipher {
namespace {

using namespace std::string_literals;

// Vectors made with an independent implementation, Python's cryptography
// package (ARC4 with the 32-byte key, then Base64 of clear text + "\0"):
//   from cryptography.hazmat.primitives.ciphers import Cipher, algorithms
//   key = b"KlarMoskeventudFjorBekkalmSindro"
//   e = lambda t: base64.b64encode(Cipher(algorithms.ARC4(key), None)
//                                  .encryptor().update(t + b"\0")).decode()
struct Vector {
  std::string clear;  // Windows-1252 bytes
  std::string enciphered;
};
const Vector kVectors[] = {
    {"abc", "VIctrQ=="},
    {"Kode1234", "fooqyPUpvptQ"},
    {"hemmelig", "XYAjwKF35MhQ"},
    {"Hemmelig1", "fYAjwKF35Mhhkg=="},
    {"jens;Sol\xe6g2024", "X4Ag3v9I4sO29S5uS2V/"},
    {"@+AD_PASS", "dc4P6ZtLzPwDkg=="},
    {"", "NQ=="},
    {std::string(40, 'x'), "TZ021bxj9dco6mQmASkHIBsu4JAZUy5UTNuWeZQweclhrdqUN6SylXs="},
    {"\xf8le;p\xe5ske", "zYkrlrT+/sQ1kg=="},
};

TEST(Cipher, DeciphersIndependentVectors) {
  for (const auto& v : kVectors) EXPECT_EQ(decipher(v.enciphered), v.clear) << v.enciphered;
}

TEST(Cipher, EnciphersToTheSameTextAsTheIndependentImplementation) {
  for (const auto& v : kVectors) EXPECT_EQ(encipher(v.clear), v.enciphered) << v.clear;
}

TEST(Cipher, ClearTextEndsAtItsFirstZeroByte) {
  // Python: e(b"ab\0cd") -> the deciphered bytes are "ab\0cd\0".
  EXPECT_EQ(decipher("VIdOzqAb"), "ab");
}

TEST(Cipher, Rc4KeystreamOfTheFixedKey) {
  // Python: ARC4(key).encryptor().update(bytes(16)).hex()
  std::string stream = rc4(kPasswordKey, std::string(16, '\0'));
  const unsigned char expected[] = {0x35, 0xe5, 0x4e, 0xad, 0xc4, 0x1b, 0x8d, 0xaf,
                                    0x50, 0x92, 0x1c, 0x5e, 0x79, 0x51, 0x7f, 0x58};
  ASSERT_EQ(stream.size(), 16u);
  for (std::size_t i = 0; i < 16; ++i)
    EXPECT_EQ(static_cast<unsigned char>(stream[i]), expected[i]) << i;
}

TEST(Cipher, Rc4PublishedVectorWithAShortKey) {
  // The ARCFOUR test vector "Key" / "Plaintext" -> BBF316E8D940AF0AD3.
  EXPECT_EQ(rc4("Key", "Plaintext"), "\xBB\xF3\x16\xE8\xD9\x40\xAF\x0A\xD3"s);
  EXPECT_EQ(rc4("Key", rc4("Key", "Plaintext")), "Plaintext");
  EXPECT_EQ(rc4("", "abc"), "abc");
}

TEST(Base64, DecodesGroupsAndPadding) {
  EXPECT_EQ(base64Decode(""), "");
  EXPECT_EQ(base64Decode("Zg=="), "f");
  EXPECT_EQ(base64Decode("Zm8="), "fo");
  EXPECT_EQ(base64Decode("Zm9v"), "foo");
  EXPECT_EQ(base64Decode("Zm9vYg=="), "foob");
  EXPECT_EQ(base64Decode("Zm9vYmE="), "fooba");
  EXPECT_EQ(base64Decode("Zm9vYmFy"), "foobar");
  EXPECT_EQ(base64Decode("+/+/"), "\xfb\xff\xbf");
}

TEST(Base64, SkipsCharactersOutsideTheAlphabet) {
  EXPECT_EQ(base64Decode("Zm9v\r\nYmFy"), "foobar");
  EXPECT_EQ(base64Decode(" Z-m.9!v "), "foo");
  EXPECT_EQ(base64Decode("Zm\xc3\xa6"
                         "9v"),
            "foo");  // UTF-8 bytes are not alphabet
  EXPECT_EQ(decipher(" VIct\trQ==\n"), "abc");
}

TEST(Base64, PaddingMidTextAndShortGroups) {
  // Each group stands alone: padding shortens only its own group.
  EXPECT_EQ(base64Decode("Zg==Zg=="), "ff");
  EXPECT_EQ(base64Decode("Zm8=Zg=="), "fof");
  // A group cut short by the end of the text yields what it completes.
  EXPECT_EQ(base64Decode("Zm9vYg"), "foob");
  EXPECT_EQ(base64Decode("Zm9vYmE"), "fooba");
  EXPECT_EQ(base64Decode("Z"), "");
  // "=" in the first or second place counts as a zero place, no shortening.
  EXPECT_EQ(base64Decode("=Zg="), "\x01\x98"s);
}

TEST(Base64, EncodesRfc4648Vectors) {
  EXPECT_EQ(base64Encode(""), "");
  EXPECT_EQ(base64Encode("f"), "Zg==");
  EXPECT_EQ(base64Encode("fo"), "Zm8=");
  EXPECT_EQ(base64Encode("foo"), "Zm9v");
  EXPECT_EQ(base64Encode("foobar"), "Zm9vYmFy");
  EXPECT_EQ(base64Decode(base64Encode("\0\xff\x80"s)), "\0\xff\x80"s);
}

}  // namespace
}  // namespace tv::cipher
