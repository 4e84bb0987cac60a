// The client's address: the socket's peer unless a trusted proxy stands
// between.
#include "host/origin.h"

#include <gtest/gtest.h>

namespace wrenhaven::host {
namespace {

const std::vector<std::string> kProxies = {"10.0.0.1", "10.0.0.2"};

TEST(ClientOriginTest, UntrustedPeerIsTheClientWhateverItClaims) {
  const ClientOrigin o =
      ResolveClient("203.0.113.9", {"198.51.100.7"}, "https", kProxies);
  EXPECT_EQ(o.address, "203.0.113.9");
  EXPECT_FALSE(o.https);
  EXPECT_EQ(ResolveClient("203.0.113.9", {}, "", {}).address, "203.0.113.9");
}

TEST(ClientOriginTest, TrustedProxyGivesTheNearestUntrustedHop) {
  // The client forged the first entry; the proxy appended what it saw.
  EXPECT_EQ(ResolveClient("10.0.0.1", {"1.1.1.1, 198.51.100.7"}, "", kProxies)
                .address,
            "198.51.100.7");
  // Two trusted proxies in a row.
  EXPECT_EQ(ResolveClient("10.0.0.1", {"198.51.100.7, 10.0.0.2"}, "", kProxies)
                .address,
            "198.51.100.7");
  // Several headers count as one list, in order.
  EXPECT_EQ(ResolveClient("10.0.0.1", {"1.1.1.1", "198.51.100.7"}, "", kProxies)
                .address,
            "198.51.100.7");
}

TEST(ClientOriginTest, OddEntries) {
  // Everybody trusted: the farthest.
  EXPECT_EQ(ResolveClient("10.0.0.1", {"10.0.0.2"}, "", kProxies).address,
            "10.0.0.2");
  // No header: the proxy itself.
  EXPECT_EQ(ResolveClient("10.0.0.1", {}, "", kProxies).address, "10.0.0.1");
  // Something that is no address ends the walk at the last trusted hop.
  EXPECT_EQ(
      ResolveClient("10.0.0.1", {"<script>, 10.0.0.2"}, "", kProxies).address,
      "10.0.0.2");
  EXPECT_EQ(ResolveClient("10.0.0.1", {"unknown"}, "", kProxies).address,
            "10.0.0.1");
  // Ports and brackets as some proxies write them.
  EXPECT_EQ(
      ResolveClient("10.0.0.1", {"198.51.100.7:5555"}, "", kProxies).address,
      "198.51.100.7");
  EXPECT_EQ(
      ResolveClient("10.0.0.1", {"[2001:db8::7]:443"}, "", kProxies).address,
      "2001:db8::7");
  EXPECT_EQ(ResolveClient("10.0.0.1", {"2001:db8::7"}, "", kProxies).address,
            "2001:db8::7");
}

TEST(ClientOriginTest, HttpsBelievedFromTrustedProxiesOnly) {
  EXPECT_TRUE(ResolveClient("10.0.0.1", {}, "https", kProxies).https);
  EXPECT_TRUE(ResolveClient("10.0.0.1", {}, "http, https", kProxies).https);
  EXPECT_FALSE(ResolveClient("10.0.0.1", {}, "https, http", kProxies).https);
  EXPECT_FALSE(ResolveClient("10.0.0.9", {}, "https", kProxies).https);
  EXPECT_TRUE(ResolveClient("10.0.0.9", {}, "", kProxies, true).https);
}

TEST(IpAddressTest, Forms) {
  EXPECT_TRUE(IsIpAddress("127.0.0.1"));
  EXPECT_TRUE(IsIpAddress("::1"));
  EXPECT_FALSE(IsIpAddress("127.0.0.1 "));
  EXPECT_FALSE(IsIpAddress("localhost"));
  EXPECT_FALSE(IsIpAddress(""));
}

}  // namespace
}  // namespace wrenhaven::host
