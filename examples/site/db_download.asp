<%@ Language=JScript %>
<!-- #include file="db_common.asp" -->
<%
  // Sends one stored row back as an attachment, decompressed when it was stored compressed.
  // The page ends right after the script: any text after it would follow the file's bytes.
  var up = Server.CreateObject("Vantrel.FileUpload");
  var conn = openUploads(up);
  var rs = conn.Execute("SELECT name, zipped, content FROM files WHERE id = " +
                        (parseInt("" + Request.QueryString("id"), 10) || 0));
  if (rs.EOF) {
    Response.Status = "404 Not Found";
    Response.Write("No such row.");
  } else {
    var down = Server.CreateObject("Vantrel.FileDownload");
    if (rs("zipped").Value == 1)
      down.DownFromUnzipDb(rs("content"), rs("name").Value);
    else
      down.DownFromDb(rs("content"), rs("name").Value);
  }
  rs.Close();
  conn.Close();
%>