<%@ Language=JScript %><%
  // Takes the body apart and answers with the number of fields and files, or with the reason
  // the upload object refused the body.
  Response.ContentType = "text/plain";
  try {
    var up = Server.CreateObject("Vantrel.FileUpload");
    Response.Write(up.Items.Count + " fields, " + up.Attachments.Count + " files");
  } catch (e) {
    Response.Write("refused " + (e.number >>> 0).toString(16) + " " + e.description);
  }
%>
