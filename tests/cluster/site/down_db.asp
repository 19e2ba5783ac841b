<%@ Language=JScript %><%
  // Sends row ?id= of the shared database back.
  var conn = Server.CreateObject("ADODB.Connection");
  conn.Open(Application("UploadsDb"));
  var rs = conn.Execute("SELECT content FROM uploads WHERE id = " +
                        (parseInt("" + Request.QueryString("id"), 10) || 0));
  Server.CreateObject("Vantrel.FileDownload").DownFromDb(rs("content"), "row.bin");
  rs.Close();
  conn.Close();
%>