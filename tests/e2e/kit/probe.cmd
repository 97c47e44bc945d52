@echo off
rem Runs the library probe beside this file against the TAMLAISPDLL.DLL beside
rem it (in this kit the stand-in), or against the library given as the first
rem argument: a file, or the folder that holds it. Further arguments go to the
rem probe: --watch SECONDS, --timeout SECONDS. It writes its report beside itself,
rem LibraryProbe-report.txt. Exit status: 0 every assumption holds, 1 some
rem differ, 2 the library cannot be loaded or the run could not finish.
rem
rem   probe.cmd [library] [--watch SECONDS] [--timeout SECONDS]
setlocal
"%~dp0LibraryProbe.exe" %*
exit /b %errorlevel%
