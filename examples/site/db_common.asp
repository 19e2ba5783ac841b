<%
  // The example database: the one whose connection string the host holds as the Application
  // value UploadsDb (scripts/run.sh gives it from VANTREL_SITE_DB, for a PostgreSQL database
  // that several hosts share); otherwise data/uploads.db under the site, made on first use.
  function openUploads(up) {
    var conn = Server.CreateObject("ADODB.Connection");
    var shared = Application("UploadsDb");
    if (shared) {
      conn.Open(shared);
      conn.Execute("CREATE TABLE IF NOT EXISTS files (id SERIAL PRIMARY KEY, name TEXT, " +
                   "size INTEGER, zipped INTEGER, content BYTEA)");
    } else {
      up.MakeDir("data");
      conn.Open("Provider=SQLite;Data Source=" + Server.MapPath("data/uploads.db"));
      conn.Execute("CREATE TABLE IF NOT EXISTS files (id INTEGER PRIMARY KEY, name TEXT, " +
                   "size INTEGER, zipped INTEGER, content BLOB)");
    }
    return conn;
  }
  // Text for a quoted SQL literal.
  function sqlText(text) { return ("" + text).replace(/'/g, "''"); }
  function h(text) { return Server.HTMLEncode("" + text); }
%>
