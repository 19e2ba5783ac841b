<%@ Language=JScript %><%
  // Saves the one file under files\same.bin, numbered when the name is taken; answers the host
  // and the name it got.
  var up = Server.CreateObject("Vantrel.FileUpload");
  up.MakeDir("files");
  var file = up.Attachments(1);
  file.SaveFile("files/same.bin");
  Response.Write(Application("HostName") + "|" + file.FileName);
%>