<%@ Language=JScript %><%
  // Makes the table before the uploads start: two hosts making it at once could collide.
  var conn = Server.CreateObject("ADODB.Connection");
  conn.Open(Application("UploadsDb"));
  conn.Execute("CREATE TABLE IF NOT EXISTS uploads (id SERIAL PRIMARY KEY, content BYTEA)");
  conn.Close();
  Response.Write(Application("HostName"));
%>