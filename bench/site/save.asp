<%@ Language=JScript %><%
  // Saves every posted file under files/ (a taken name gets the next free number) and
  // answers with the count, as the busboy server of bench/host.sh does.
  var up = Server.CreateObject("Vantrel.FileUpload");
  var saved = 0;
  for (var e = new Enumerator(up.Attachments); !e.atEnd(); e.moveNext()) {
    var file = e.item();
    if (file.FileName == "") continue;
    file.SaveFile("files/" + file.FileName, 1);
    saved++;
  }
  Response.ContentType = "text/plain";
  Response.Write("saved " + saved);
%>
