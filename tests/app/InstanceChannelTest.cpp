#include "app/InstanceChannel.hpp"

#include <gtest/gtest.h>

using namespace qb::app;

TEST(InstanceChannel, HearsOnlyItsOwnMessageForm) {
    using Request = InstanceChannel::Request;
    const std::string url = "quillabrenta-capture://auth?code=a1&base_url=https%3A%2F%2Fq.example";
    const Request both{{url, url + "2"}, false};
    EXPECT_EQ(InstanceChannel::encode(both), "open " + url + "\nopen " + url + "2\n\n");
    EXPECT_EQ(InstanceChannel::parse(InstanceChannel::encode(both)), both);
    EXPECT_EQ(InstanceChannel::parse("show\n\n"), (Request{{}, true}));

    for (const std::string& message :
         {std::string(""), std::string("\n\n"), "open " + url + "\n", "open " + url + "\n\nx",
          std::string("open https://elsewhere.example/\n\n"), "open " + url + " extra\n\n",
          "open " + url + "\x01\n\n", "OPEN " + url + "\n\n", std::string("show\nshow\n\n"),
          "show\nopen " + url + "\n\n",
          "open quillabrenta-capture:" + std::string(5000, 'a') + "\n\n",
          std::string(20000, '\n')}) {
        EXPECT_EQ(InstanceChannel::parse(message), std::nullopt) << message.substr(0, 80);
    }
}
