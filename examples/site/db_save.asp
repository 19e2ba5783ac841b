<%@ Language=JScript %>
<!-- #include file="db_common.asp" -->
<%
  // Each file is stored twice: its bytes as they came, and compressed.
  var up = Server.CreateObject("Vantrel.FileUpload");
  var conn = openUploads(up);
  var stored = 0;
  for (var e = new Enumerator(up.Attachments); !e.atEnd(); e.moveNext()) {
    var file = e.item();
    if (file.FileName == "") continue;
    var values = "'" + sqlText(file.FileName) + "', " + file.Size;
    file.SaveDb(conn, "INSERT INTO files (name, size, zipped, content) VALUES (" + values + ", 0, ?)");
    file.SaveDbByZip(conn, "INSERT INTO files (name, size, zipped, content) VALUES (" + values + ", 1, ?)");
    stored++;
  }
  conn.Close();
  Response.Redirect("db_list.asp?stored=" + stored);
%>