#include "installer/update_package.h"

#include <functional>

#include <gtest/gtest.h>

#include "installer/testing/test_package.h"

namespace orvik::installer {
namespace {

using testing::TempFolder;

struct Package {
  TempFolder temp;
  testing::TestKey key = testing::makeTestKey();
  std::filesystem::path root = temp.path;
  std::filesystem::path app = temp.path / kPackageAppFolderName;
  Package() {
    testing::makeInstallFolder(app, "2");
    std::filesystem::create_symlink("orvikdesk", app / "launcher");
  }
};

TEST(UpdatePackage, TheSignedPackageAsBuiltVerifies) {
  Package package;
  testing::signPackage(package.root, package.key);
  EXPECT_EQ(verifyUpdatePackage(package.root, package.key.publicKey), PackageCheck::ok);
}

TEST(UpdatePackage, RefusesEveryChangeAfterSigning) {
  struct Case {
    const char* what;
    std::function<void(Package&)> change;
    PackageCheck expected;
  } cases[] = {
      {"tampered file", [](Package& p) { testing::writeFile(p.app / "orvikdesk", "#!/bin/sh\nrm -rf ~\n", 0755); },
       PackageCheck::changedFile},
      {"extra file", [](Package& p) { testing::writeFile(p.app / "resources" / "extra.so", "x"); },
       PackageCheck::unlistedFile},
      {"extra top-level file", [](Package& p) { testing::writeFile(p.root / "postinstall.sh", "x"); },
       PackageCheck::unlistedFile},
      {"missing file", [](Package& p) { std::filesystem::remove(p.app / "resources" / "readme.txt"); },
       PackageCheck::missingFile},
      {"redirected link",
       [](Package& p) {
         std::filesystem::remove(p.app / "launcher");
         std::filesystem::create_symlink("manifest.json", p.app / "launcher");
       },
       PackageCheck::changedFile},
      {"manifest edited", [](Package& p) { testing::writeFile(p.root / kPackageManifestName, "{}"); },
       PackageCheck::badSignature},
      {"signature missing", [](Package& p) { std::filesystem::remove(p.root / kPackageSignatureName); },
       PackageCheck::badSignature},
      {"signature truncated",
       [](Package& p) { testing::writeFile(p.root / kPackageSignatureName, std::string(63, 'x')); },
       PackageCheck::badSignature},
      {"signed by another key",
       [](Package& p) { testing::signPackage(p.root, testing::makeTestKey()); }, PackageCheck::badSignature},
      {"wrong identifier",
       [](Package& p) { testing::signPackage(p.root, p.key, {"org.example.other", "OR5VK2D8QK"}); },
       PackageCheck::wrongIdentity},
      {"wrong team", [](Package& p) { testing::signPackage(p.root, p.key, {"com.orvik.desk", "AAAAAAAAAA"}); },
       PackageCheck::wrongIdentity},
  };
  for (const auto& c : cases) {
    Package package;
    testing::signPackage(package.root, package.key);
    c.change(package);
    EXPECT_EQ(verifyUpdatePackage(package.root, package.key.publicKey), c.expected) << c.what;
  }
}

TEST(UpdatePackage, NoKeyOrAKeyOfTheWrongSizeNeverVerifies) {
  Package package;
  testing::signPackage(package.root, package.key);
  EXPECT_EQ(verifyUpdatePackage(package.root, ""), PackageCheck::badSignature);
  EXPECT_EQ(verifyUpdatePackage(package.root, package.key.publicKey.substr(0, 31)), PackageCheck::badSignature);
}

TEST(UpdatePackage, HexDecodingAsATable) {
  EXPECT_EQ(bytesFromHex("00ff7A"), std::string("\x00\xff\x7a", 3));
  EXPECT_EQ(bytesFromHex("0"), "");
  EXPECT_EQ(bytesFromHex("zz"), "");
  EXPECT_EQ(bytesFromHex(""), "");
}

}  // namespace
}  // namespace orvik::installer
