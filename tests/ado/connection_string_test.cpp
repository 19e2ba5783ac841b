// Tests of the SQLite provider's connection strings.
#include "connection_string.h"

#include <gtest/gtest.h>

namespace {

TEST(ConnectionString, ReadsProviderAndDataSource) {
  ConnectionStringParts parts;
  ASSERT_TRUE(ParseConnectionString(u"Provider=SQLite;Data Source=\\srv\\db\\a.db", &parts));
  EXPECT_EQ(u"SQLite", parts.provider);
  EXPECT_EQ(u"\\srv\\db\\a.db", parts.data_source);

  ASSERT_TRUE(ParseConnectionString(
      u" data source = 'C:\\my files\\x;y.db' ; PROVIDER=sqlite; User ID=me;;", &parts));
  EXPECT_EQ(u"sqlite", parts.provider);
  EXPECT_EQ(u"C:\\my files\\x;y.db", parts.data_source) << "a quoted value keeps its ';'";

  ASSERT_TRUE(ParseConnectionString(u"Data Source=\"a=b.db\"", &parts));
  EXPECT_EQ(u"", parts.provider);
  EXPECT_EQ(u"a=b.db", parts.data_source);

  ASSERT_TRUE(ParseConnectionString(u"", &parts));
  EXPECT_EQ(u"", parts.data_source);
}

TEST(ConnectionString, RefusesMalformedStrings) {
  ConnectionStringParts parts;
  EXPECT_FALSE(ParseConnectionString(u"Provider", &parts));
  EXPECT_FALSE(ParseConnectionString(u"Provider=SQLite;junk;Data Source=a", &parts));
  EXPECT_FALSE(ParseConnectionString(u"=SQLite", &parts));
  EXPECT_FALSE(ParseConnectionString(u"Data Source='never closed", &parts));
  EXPECT_FALSE(ParseConnectionString(u"Data Source='a.db' trailing", &parts));
}

}  // namespace
