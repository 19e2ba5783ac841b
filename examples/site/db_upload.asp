<%@ Language=JScript %>
<!DOCTYPE html>
<html>
<head><meta charset="utf-8"><title>Upload into the database</title></head>
<body>
<h1>Store files in the database</h1>
<form method="post" action="db_save.asp" enctype="multipart/form-data">
<p><label>Files <input type="file" name="upfile" multiple></label></p>
<p><button type="submit">Store</button></p>
</form>
<p><a href="db_list.asp">What the database holds</a> · <a href="index.asp">Home</a></p>
</body>
</html>
