// Where the bridge's DDS Security comes from: its options and ROS 2's variables, and which wins.
#include "security.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "options.h"

namespace torvane_bridge {
namespace {

struct Env {
  std::map<std::string, std::string> vars;
  EnvLookup lookup() const {
    return [this](const char* name) -> const char* {
      const auto it = vars.find(name);
      return it == vars.end() ? nullptr : it->second.c_str();
    };
  }
};

bool Resolve(const Options& o, const Env& env, SecurityConfig& c, std::string& error) {
  return ResolveSecurity(o, env.lookup(), c, error);
}

TEST(SecurityResolve, OffUnlessAskedForAsRos2Is) {
  Options o;
  SecurityConfig c;
  std::string error;
  ASSERT_TRUE(Resolve(o, Env{}, c, error));
  EXPECT_FALSE(c.enabled);
  // ROS 2 turns security on for exactly "true"; a keystore alone does nothing.
  ASSERT_TRUE(
      Resolve(o, Env{{{"ROS_SECURITY_ENABLE", "1"}, {"ROS_SECURITY_KEYSTORE", "/k"}}}, c, error));
  EXPECT_FALSE(c.enabled);
}

TEST(SecurityResolve, OptionsWinOverTheVariables) {
  Options o;
  o.ros_namespace = "dog1";
  o.security_keystore = "/opt/keys/";
  const Env env{{{"ROS_SECURITY_ENABLE", "true"},
                 {"ROS_SECURITY_KEYSTORE", "/elsewhere"},
                 {"ROS_SECURITY_ENCLAVE_OVERRIDE", "/torvane/other"}}};
  SecurityConfig c;
  std::string error;
  ASSERT_TRUE(Resolve(o, env, c, error)) << error;
  EXPECT_TRUE(c.enabled);
  EXPECT_EQ(c.keystore, "/opt/keys");
  EXPECT_EQ(c.enclave, "/torvane/other");  // no --enclave: the override
  EXPECT_EQ(c.enclave_dir, "/opt/keys/enclaves/torvane/other");
  o.security_enclave = "/torvane/dog1/bridge";
  ASSERT_TRUE(Resolve(o, env, c, error)) << error;
  EXPECT_EQ(c.enclave_dir, "/opt/keys/enclaves/torvane/dog1/bridge");
}

TEST(SecurityResolve, TheVariablesAloneAndTheDefaultEnclave) {
  Options o;
  o.ros_namespace = "fleet/dog2";
  SecurityConfig c;
  std::string error;
  ASSERT_TRUE(Resolve(o, Env{{{"ROS_SECURITY_ENABLE", "true"}, {"ROS_SECURITY_KEYSTORE", "/k"}}}, c,
                      error));
  EXPECT_EQ(c.enclave, "/torvane/fleet/dog2/bridge");
  // A relative keystore becomes a full path: the plugins read file: URIs.
  ASSERT_TRUE(Resolve(o, Env{{{"ROS_SECURITY_ENABLE", "true"}, {"ROS_SECURITY_KEYSTORE", "keys"}}},
                      c, error));
  ASSERT_FALSE(c.keystore.empty());
  EXPECT_EQ(c.keystore[0], '/');
  EXPECT_EQ(c.keystore.substr(c.keystore.size() - 5), "/keys");
  EXPECT_EQ(DefaultEnclave(""), "/torvane/bridge");
}

TEST(SecurityResolve, RefusalsAreOneLineAndNeverOpen) {
  Options o;
  SecurityConfig c;
  std::string error;
  EXPECT_FALSE(Resolve(o, Env{{{"ROS_SECURITY_ENABLE", "true"}}}, c, error));
  EXPECT_NE(error.find("ROS_SECURITY_KEYSTORE is not set"), std::string::npos);
  EXPECT_FALSE(Resolve(o,
                       Env{{{"ROS_SECURITY_ENABLE", "true"},
                            {"ROS_SECURITY_KEYSTORE", "/k"},
                            {"ROS_SECURITY_STRATEGY", "Open"}}},
                       c, error));
  EXPECT_NE(error.find("not: Open"), std::string::npos);
  // Permissive would run a ROS 2 node open without its keys: the bridge enforces regardless.
  ASSERT_TRUE(Resolve(o,
                      Env{{{"ROS_SECURITY_ENABLE", "true"},
                           {"ROS_SECURITY_KEYSTORE", "/k"},
                           {"ROS_SECURITY_STRATEGY", "Permissive"}}},
                      c, error));
  EXPECT_TRUE(c.enabled);
  EXPECT_NE(c.note.find("enforces"), std::string::npos);
  EXPECT_FALSE(Resolve(o,
                       Env{{{"ROS_SECURITY_ENABLE", "true"},
                            {"ROS_SECURITY_KEYSTORE", "/k"},
                            {"ROS_SECURITY_ENCLAVE_OVERRIDE", "/a/../b"}}},
                       c, error));
  o.security_strict = true;
  EXPECT_FALSE(Resolve(o, Env{}, c, error));
  EXPECT_NE(error.find("--security-strict needs"), std::string::npos);
  EXPECT_EQ(error.find('\n'), std::string::npos);
}

TEST(SecurityResolve, EnclavePaths) {
  EXPECT_TRUE(ValidEnclave("/torvane/dog1/bridge"));
  EXPECT_TRUE(ValidEnclave("/a"));
  for (const char* bad : {"", "/", "torvane/x", "/a//b", "/a/", "/a/../b", "/a b", "/a/b-c"}) {
    EXPECT_FALSE(ValidEnclave(bad)) << bad;
  }
}

TEST(SecurityPlugins, FoundBesideTheDdsLibrary) {
  std::string auth, access, crypto, error;
  ASSERT_TRUE(FindSecurityPlugins(auth, access, crypto, error)) << error;
  EXPECT_NE(auth.find("libdds_security_auth.so"), std::string::npos);
  EXPECT_NE(access.find("libdds_security_ac.so"), std::string::npos);
  EXPECT_NE(crypto.find("libdds_security_crypto.so"), std::string::npos);
}

}  // namespace
}  // namespace torvane_bridge
