<%@ Language=JScript %><%
  // Saves the one file into the shared database; answers the host and the row.
  var up = Server.CreateObject("Vantrel.FileUpload");
  var conn = Server.CreateObject("ADODB.Connection");
  conn.Open(Application("UploadsDb"));
  up.Attachments(1).SaveDb(conn, "INSERT INTO uploads (content) VALUES (?)");
  var rs = conn.Execute("SELECT lastval() AS id");
  Response.Write(Application("HostName") + "|" + rs("id").Value);
  rs.Close();
  conn.Close();
%>