// Tests of the providers' connection strings.
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

TEST(ConnectionString, ReadsPostgresKeys) {
  ConnectionStringParts parts;
  ASSERT_TRUE(ParseConnectionString(
      u"Provider=PostgreSQL;Host=db.example;Port=6432;Database=files;User ID=web;"
      u"Password='p;w=d'",
      &parts));
  EXPECT_TRUE(IsProvider(parts.provider, u"postgresql"));
  EXPECT_EQ(u"db.example", parts.host);
  EXPECT_EQ(u"6432", parts.port);
  EXPECT_EQ(u"files", parts.database);
  EXPECT_EQ(u"web", parts.user_id);
  EXPECT_EQ(u"p;w=d", parts.password) << "a quoted value may hold ';' and '='";
  EXPECT_EQ(u"", parts.libpq);

  // Keys in any order, the provider too; aliases.
  ASSERT_TRUE(
      ParseConnectionString(u"server=h;initial catalog=d;uid=u;pwd=p;provider=postgresql", &parts));
  EXPECT_EQ(u"h", parts.host);
  EXPECT_EQ(u"d", parts.database);
  EXPECT_EQ(u"u", parts.user_id);
  EXPECT_EQ(u"p", parts.password);
}

TEST(ConnectionString, GivesLibpqItsOwnStringAfterALeadingProvider) {
  ConnectionStringParts parts;
  ASSERT_TRUE(ParseConnectionString(
      u"Provider=PostgreSQL; postgresql://web@db.example:6432/files?sslmode=disable ", &parts));
  EXPECT_EQ(u"postgresql://web@db.example:6432/files?sslmode=disable", parts.libpq);
  EXPECT_EQ(u"", parts.host);

  ASSERT_TRUE(ParseConnectionString(
      u"Provider=PostgreSQL;host=/run/pg port=5432 dbname=files options='-c x=y'", &parts));
  EXPECT_EQ(u"host=/run/pg port=5432 dbname=files options='-c x=y'", parts.libpq);
  EXPECT_EQ(u"", parts.host) << "pairs of libpq are no keys of ours";

  ASSERT_TRUE(ParseConnectionString(u"Provider=PostgreSQL;sslmode=require", &parts));
  EXPECT_EQ(u"sslmode=require", parts.libpq) << "a key of libpq's alone";

  // Only after a leading provider: elsewhere such text is no connection string of ours.
  ASSERT_TRUE(ParseConnectionString(u"Host=h;Provider=PostgreSQL;sslmode=require", &parts));
  EXPECT_EQ(u"", parts.libpq);
  EXPECT_EQ(u"h", parts.host);
  ASSERT_TRUE(ParseConnectionString(u"Provider=SQLite;host=a port=5", &parts));
  EXPECT_EQ(u"", parts.libpq);
}

}  // namespace
