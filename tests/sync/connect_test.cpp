// The connection routine and the two handlers that start it.
#include <gtest/gtest.h>

#include <string>

#include "fakes.h"
#include "sync/handlers.h"

namespace {

const std::string kConnecting =  // 正在连接校时服务器...
    "\xD5\xFD\xD4\xDA\xC1\xAC\xBD\xD3\xD0\xA3\xCA\xB1\xB7\xFE\xCE\xF1\xC6\xF7...";
const std::string kConnected = "\xC1\xAC\xBD\xD3\xB7\xFE\xCE\xF1\xC6\xF7\xB3\xC9\xB9\xA6";
const std::string kConnectFailed = "\xC1\xAC\xBD\xD3\xB7\xFE\xCE\xF1\xC6\xF7\xCA\xA7\xB0\xDC";
const std::string kSyncFailed = "\xD0\xA3\xCA\xB1\xB4\xED\xCE\xF3";  // 校时错误

class ConnectTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::Reset(); }
  fake::State& s() { return fake::state(); }
  std::vector<std::string> Texts() {
    std::vector<std::string> t;
    for (auto& w : s().status) t.push_back(w.text);
    return t;
  }
};

TEST_F(ConnectTest, ShowsProgressThenTheOutcome) {
  for (bool ok : {true, false}) {
    fake::Reset();
    s().connect_result = ok;
    s().next_connection = fake::FreshConnection();
    ConnectTimeServer(0);
    EXPECT_EQ(Texts(), (std::vector<std::string>{kConnecting, ok ? kConnected : kConnectFailed}));
    ASSERT_EQ(s().connects.size(), 1u);
    EXPECT_EQ(s().connects[0].host, "time.nist.gov");
    EXPECT_EQ(s().connects[0].port, 13);
    for (auto& w : s().status) EXPECT_EQ(w.part, 0);
  }
}

TEST_F(ConnectTest, ResultHandledBeforeTheConnectedTextStays) {
  // The user-interface thread takes the reply's notification before the
  // worker gets back from the connection attempt.
  s().next_connection = fake::FreshConnection();
  s().clock_accepts = false;
  s().during_connect = [](uint32_t conn) {
    fake::Deliver(conn, "\n55420 10-08-12 02:24:10 50 0 0 0.0 UTC(NIST) *\n");
  };
  ConnectTimeServer(0);
  EXPECT_EQ(Texts(), (std::vector<std::string>{kConnecting, kSyncFailed}));
}

TEST_F(ConnectTest, OlderAttemptDoesNotReplaceTheResultOfANewerOne) {
  uint32_t older = fake::FreshConnection();
  uint32_t newer = fake::FreshConnection();
  s().clock_accepts = false;
  fake::Deliver(newer, "\n55420 10-08-12 02:24:10 50 0 0 0.0 UTC(NIST) *\n");
  for (bool ok : {true, false}) {
    s().status.clear();
    s().connect_result = ok;
    s().next_connection = older;
    ConnectTimeServer(0);
    EXPECT_EQ(Texts(), std::vector<std::string>{kConnecting});
  }
}

TEST_F(ConnectTest, ConnectedTextShownWhenTheReplyComesLater) {
  uint32_t conn = fake::FreshConnection();
  s().next_connection = conn;
  ConnectTimeServer(0);
  s().clock_accepts = false;
  fake::Deliver(conn, "\n55420 10-08-12 02:24:10 50 0 0 0.0 UTC(NIST) *\n");
  EXPECT_EQ(Texts(), (std::vector<std::string>{kConnecting, kConnected, kSyncFailed}));
}

TEST_F(ConnectTest, HandlersStartTheRoutineOnAWorker) {
  OnMainWindowCreated();
  ASSERT_EQ(s().threads.size(), 1u);
  EXPECT_EQ(s().threads[0], &ConnectTimeServer);
  // The main window itself gets the focus, by its own control id.
  ASSERT_EQ(s().focus.size(), 1u);
  EXPECT_EQ(s().focus[0].first, 0x52010001u);
  EXPECT_EQ(s().focus[0].second, 0x06010000u);
  EXPECT_TRUE(s().status.empty());  // the worker writes the texts

  OnResyncClicked();
  ASSERT_EQ(s().threads.size(), 2u);
  EXPECT_EQ(s().threads[1], &ConnectTimeServer);
  EXPECT_EQ(s().focus.size(), 1u);
}

}  // namespace
