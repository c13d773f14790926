REM  Convert with Quillo (LibreOffice Basic)
REM  Saves the open text document as RTF beside it and converts that RTF file to a web page with
REM  quillocmd. The folder that holds quillocmd comes from the Quillo settings file
REM  ($XDG_CONFIG_HOME/quillo/quillo.ini, section [Settings], key InstallDir), which addinsetup
REM  writes; the folder addinsetup ran from is the fallback.

Option Explicit

Const BuiltInstallDir = "{{INSTALLDIR}}"

REM  The menu command: converts the current document and tells the user how it went.
Sub ConvertWithQuillo
	MsgBox ConvertDocument(ThisComponent), 64, "Quillo"
End Sub

REM  Converts one document; returns the text to show the user. The first word is "Converted"
REM  exactly when the web page was written.
Function ConvertDocument(doc As Object) As String
	If IsNull(doc) Then
		ConvertDocument = "Open a text document first."
		Exit Function
	End If
	If Not doc.supportsService("com.sun.star.text.TextDocument") Then
		ConvertDocument = "Convert with Quillo works on text documents."
		Exit Function
	End If
	If Not doc.hasLocation() Then
		ConvertDocument = "Save the document first: the web page is written beside it."
		Exit Function
	End If

	Dim docPath As String, basePath As String, rtfPath As String, htmlPath As String
	Dim errPath As String, quillocmd As String
	docPath = ConvertFromURL(doc.getURL())
	If InStr(docPath, """") > 0 Then
		REM  Shell's parameters are grouped by quotation marks; such a name cannot be passed.
		ConvertDocument = "Quillo cannot convert a document whose name holds a quotation mark."
		Exit Function
	End If
	basePath = WithoutExtension(docPath)
	rtfPath = basePath & ".rtf"
	htmlPath = basePath & ".html"
	errPath = basePath & "_err.htm"
	quillocmd = InstallDir() & "/quillocmd"
	If Not FileExists(quillocmd) Then
		ConvertDocument = "quillocmd was not found: " & quillocmd & Chr(10) & _
			"Run addinsetup again from the Quillo installation."
		Exit Function
	End If

	On Error GoTo SaveFailed
	If rtfPath = docPath Then
		REM  An RTF document is converted from its own file, with its changes saved first.
		If doc.isModified() Then doc.store()
	Else
		Dim props(1) As New com.sun.star.beans.PropertyValue
		props(0).Name = "FilterName"
		props(0).Value = "Rich Text Format"
		props(1).Name = "Overwrite"
		props(1).Value = True
		doc.storeToURL(ConvertToURL(rtfPath), props())
	End If
	On Error GoTo 0

	REM  The page and the error file of an earlier run are removed, so that what exists after
	REM  the run tells whether it worked. quillocmd never waits for a key with PauseOnErr=0.
	If FileExists(htmlPath) Then Kill htmlPath
	If FileExists(errPath) Then Kill errPath
	Shell(quillocmd, 0, "-D PauseOnErr=0 -o """ & htmlPath & """ """ & rtfPath & """", True)
	If FileExists(htmlPath) And Not FileExists(errPath) Then
		ConvertDocument = "Converted " & rtfPath & Chr(10) & "Web page: " & htmlPath
	ElseIf FileExists(errPath) Then
		ConvertDocument = "Quillo reported problems converting " & rtfPath & Chr(10) & _
			"See " & errPath
	Else
		ConvertDocument = "Quillo could not convert " & rtfPath
	End If
	Exit Function

SaveFailed:
	ConvertDocument = "The document could not be saved as RTF: " & rtfPath & Chr(10) & Error$
End Function

REM  A path without the extension of its last component ("/a.b/c.odt" gives "/a.b/c").
Function WithoutExtension(path As String) As String
	Dim i As Long
	For i = Len(path) To 1 Step -1
		Select Case Mid(path, i, 1)
		Case "/"
			Exit For
		Case "."
			WithoutExtension = Left(path, i - 1)
			Exit Function
		End Select
	Next i
	WithoutExtension = path
End Function

REM  The Quillo folder: InstallDir from the settings file, else the folder addinsetup ran from.
Function InstallDir() As String
	Dim configHome As String, iniPath As String, fileNo As Integer, text As String
	Dim inSettings As Boolean, eq As Long, found As String
	configHome = Environ("XDG_CONFIG_HOME")
	If Left(configHome, 1) <> "/" Then configHome = Environ("HOME") & "/.config"
	iniPath = configHome & "/quillo/quillo.ini"
	found = ""
	If FileExists(iniPath) Then
		fileNo = FreeFile
		Open iniPath For Input As #fileNo
		Do While Not EOF(fileNo)
			Line Input #fileNo, text
			text = Trim(text)
			If Left(text, 1) = "[" Then
				inSettings = (LCase(text) = "[settings]")
			ElseIf inSettings Then
				eq = InStr(text, "=")
				If eq > 0 Then
					If LCase(Trim(Left(text, eq - 1))) = "installdir" Then
						found = Trim(Mid(text, eq + 1))
					End If
				End If
			End If
		Loop
		Close #fileNo
	End If
	If found = "" Then found = BuiltInstallDir
	InstallDir = found
End Function
