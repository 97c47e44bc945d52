@echo off
rem Runs the library probe beside this file against the TAMLAISPDLL.DLL beside
rem it (in this kit the stand-in), or against the library given as the first
rem argument: a file, or the folder that holds it. Further arguments go to the
rem probe: --watch SECONDS, --timeout SECONDS. It writes its report beside itself,
rem LibraryProbe-report.txt (in %TEMP% where it cannot). Exit status: 0 nothing
rem breaks the tool, 1 something would, 2 the probe could not judge.
rem
rem   probe.cmd [library] [--watch SECONDS] [--timeout SECONDS]
setlocal
"%~dp0LibraryProbe.exe" %*
exit /b %errorlevel%
