<%@ Language=JScript %>
<!DOCTYPE html>
<html>
<head><meta charset="utf-8"><title>Upload</title></head>
<body>
<h1>Send fields and files</h1>
<form method="post" action="upload_done.asp" enctype="multipart/form-data">
<p><label>Title <input type="text" name="title"></label></p>
<p><label>Tags <input type="text" name="tag"> <input type="text" name="tag"></label></p>
<p><label>Comment<br><textarea name="comment" rows="3" cols="40"></textarea></label></p>
<p><label>Files <input type="file" name="upfile" multiple></label></p>
<p><label>Another file <input type="file" name="other"></label></p>
<p><button type="submit">Send</button></p>
</form>
<p><a href="index.asp">Back</a></p>
</body>
</html>
