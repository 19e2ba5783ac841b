<%
  // The example database: data/uploads.db under the site, made on first use.
  function openUploads(up) {
    up.MakeDir("data");
    var conn = Server.CreateObject("ADODB.Connection");
    conn.Open("Provider=SQLite;Data Source=" + Server.MapPath("data/uploads.db"));
    conn.Execute("CREATE TABLE IF NOT EXISTS files (id INTEGER PRIMARY KEY, name TEXT, " +
                 "size INTEGER, zipped INTEGER, content BLOB)");
    return conn;
  }
  // Text for a quoted SQL literal.
  function sqlText(text) { return ("" + text).replace(/'/g, "''"); }
  function h(text) { return Server.HTMLEncode("" + text); }
%>
