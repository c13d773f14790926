"""Runs the add-in's ConvertDocument macro on a document, the way the menu entry does, and
prints what it returns. Usage: uno_convert.py DOCUMENT (run by the test user; needs python3-uno).

LibreOffice is started headless with a pipe of its own; the document is opened hidden and the
Basic function is called through the script provider (ConvertWithQuillo itself would only add
a message box around it)."""

import os
import subprocess
import sys
import time

import uno
from com.sun.star.beans import PropertyValue

SCRIPT = ("vnd.sun.star.script:QuilloAddin.Convert.ConvertDocument"
          "?language=Basic&location=application")


def prop(name, value):
    p = PropertyValue()
    p.Name, p.Value = name, value
    return p


def main(document):
    pipe = f"quillotest{os.getpid()}"
    office = subprocess.Popen(["soffice", "--headless", "--invisible", "--norestore",
                               "--nologo", f"--accept=pipe,name={pipe};urp;"],
                              stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    try:
        local = uno.getComponentContext()
        resolver = local.ServiceManager.createInstanceWithContext(
            "com.sun.star.bridge.UnoUrlResolver", local)
        context = None
        for _ in range(240):
            try:
                context = resolver.resolve(
                    f"uno:pipe,name={pipe};urp;StarOffice.ComponentContext")
                break
            except Exception:
                time.sleep(0.5)
        if context is None:
            print("LibreOffice did not answer")
            return 1
        manager = context.ServiceManager
        desktop = manager.createInstanceWithContext("com.sun.star.frame.Desktop", context)
        doc = desktop.loadComponentFromURL(uno.systemPathToFileUrl(document), "_blank", 0,
                                           (prop("Hidden", True),))
        factory = manager.createInstanceWithContext(
            "com.sun.star.script.provider.MasterScriptProviderFactory", context)
        result = factory.createScriptProvider("").getScript(SCRIPT).invoke((doc,), (), ())
        print(result[0])
        doc.close(True)
        try:
            desktop.terminate()
        except Exception:
            pass  # the connection ends as LibreOffice quits
        office.wait(timeout=60)
        return 0
    finally:
        if office.poll() is None:
            office.kill()
            office.wait()


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
