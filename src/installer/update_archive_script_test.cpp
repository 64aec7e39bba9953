// The release script's archives are what the installer accepts: built from
// an install folder and a throwaway key, unpacked and checked like an update.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "installer/installer_services.h"
#include "installer/safe_unpack.h"
#include "installer/testing/test_package.h"
#include "installer/update_package.h"

namespace orvik::installer {
namespace {

TEST(UpdateArchiveScriptIntegration, ItsArchiveUnpacksAndVerifiesWithThePrintedKeyAndNoOther) {
  testing::TempFolder temp;
  auto folder = temp.path / "prefix" / "lib" / "orvikdesk";
  testing::makeInstallFolder(folder, "2");
  std::filesystem::create_symlink("orvikdesk", folder / "launcher");
  auto key = temp.path / "TEST-ONLY.pem";
  auto made = runCommand({"openssl", "genpkey", "-algorithm", "ed25519", "-out", key.string()});
  ASSERT_EQ(made.exitStatus, 0) << made.err;
  auto archive = temp.path / "update.tar";
  auto built = runCommand({"node", ORVIK_SOURCE_DIR "/tools/release/make-update-archive.mjs", "--install-folder",
                           folder.string(), "--key", key.string(), "--out", archive.string()});
  ASSERT_EQ(built.exitStatus, 0) << built.err;
  auto report = nlohmann::json::parse(built.out);
  EXPECT_EQ(report["sha256"], fileSha256(archive));

  auto root = temp.path / "root";
  std::filesystem::create_directories(root);
  ASSERT_EQ(unpackArchive(archive, root).status, UnpackStatus::ok);
  auto publicKey = bytesFromHex(report["publicKey"].get<std::string>());
  EXPECT_EQ(verifyUpdatePackage(root, publicKey), PackageCheck::ok);
  EXPECT_EQ(verifyUpdatePackage(root, testing::makeTestKey().publicKey), PackageCheck::badSignature);
  EXPECT_EQ(testing::readFile(root / "orvikdesk" / "resources" / "readme.txt"), "version 2\n");
}

}  // namespace
}  // namespace orvik::installer
