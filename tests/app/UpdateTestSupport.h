#pragma once
// What the update tests share: a web folder whose "upgrade" folder the
// python web server serves, a download folder, and an updater over them.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/AutoUpdater.h"
#include "app/CORVANApp.h"
#include "app/PythonServer.h"
#include "support/TestSupport.h"

namespace corvan::test {

class UpdateServerTest : public ::testing::Test {
 protected:
  // The application object the updater reads its product values from,
  // with `installed` as the version and `address` as the update server.
  virtual CORVANApp& ProductApp(const std::string& installed, const std::string& address) = 0;

  void SetUp() override {
    std::filesystem::create_directories(web / "upgrade");
    std::filesystem::create_directories(downloads);
  }
  void Start(const std::string& installed, const std::string& address) {
    updater = std::make_unique<CAutoUpdater>(ProductApp(installed, address));
    updater->m_downloadFolder = downloads;
    updater->m_timeoutSeconds = 5;
  }
  void StartWithWebServer(const std::string& installed = "1.0.0.3") {
    server = std::make_unique<PythonServer>(std::vector<std::string>{
        "-m", "http.server", "PORT", "--bind", "127.0.0.1", "--directory", web.string()});
    ASSERT_TRUE(server->Running());
    Start(installed, server->Address() + "/");
  }
  void Serve(const std::string& name, const std::string& bytes) {
    WriteWholeFile(web / "upgrade" / name, bytes);
  }

  TempDir dir;
  std::filesystem::path web = dir / "web";
  std::filesystem::path downloads = dir / "downloads";
  std::unique_ptr<PythonServer> server;
  std::unique_ptr<CAutoUpdater> updater;
};

}  // namespace corvan::test
