#include <gtest/gtest.h>

#include <string>

#include "fuzz/password_job_fuzz.cpp"
#include "text/cipher.h"

namespace tv {
namespace {

using namespace std::string_literals;
using cipher::encipher;

TEST(PasswordJobFuzzTarget, SurvivesNastyJobs) {
  const std::string jobs[] = {
      ""s,
      "@+AD_UNI_PASS"s,
      "@+AD_UNI_PASS\n\n\n"s,
      "@+UNI_PASS\n" + encipher("jens;Sol2024!x") + "\n",
      "@+UNI_PASS\n" + encipher("jens;") + "\n" + encipher(";x") + "\n",
      "@+UNI_PASS\r\n" + encipher("jens ;Sol2024!x") + "\r\n" + encipher(".jens;x") + "\r\n",
      "@+UNI_PASS\n" + encipher("jens;" + std::string(21, 'x')) + "\n",
      "@+AD_UNI_PASS\n" + encipher(std::string(3000, ';')) + "\n",
      "@+UNI_PASS\n" + encipher("@+AD_UNI_PASS") + "\n" + encipher("@+UNI_PASS") + "\n" +
          encipher("jens;Sol2024!x"),
      "@+UNI_PASS\n" + std::string(5000, 'A') + "\n" + std::string(2000, '=') + "\n",
      "\xef\xbb\xbf@+UNI_PASS\n\0\0\0\n"s + encipher("jens\x01;pw") + "\n",
      "@+AD_PASS\n" + encipher("j\xe6ns;p\xe5ske2024") + "\n",
  };
  for (const auto& job : jobs) fuzz::checkPasswordJob(job);
  // Two jobs carry a line the rules let through to the program.
  EXPECT_EQ(fuzz::passwordJobWorld().runner.calls, 2);
}

}  // namespace
}  // namespace tv
