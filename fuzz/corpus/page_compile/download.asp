<%@ Language=JScript %>
<%
  // Sends one saved file back: download.asp?name=photo.jpg from files/, with zip=1 a
  // compressed copy from zfiles/, sent decompressed. Names are file names only.
  // The page ends right after the script: any text after it would follow the file's bytes.
  var name = "" + Request.QueryString("name");
  if (name == "" || name == "undefined" || /[\\/]|\.\./.test(name)) {
    Response.Status = "400 Bad Request";
    Response.Write("A file name without a path is needed.");
  } else {
    var down = Server.CreateObject("Vantrel.FileDownload");
    if (Request.QueryString("zip") == "1")
      down.DownFromUnzipFile("zfiles/" + name);
    else
      down.DownFromFile("files/" + name);
  }
%>