@echo off
rem Removes what register.cmd wrote (/AllUsers: the machine's registration).
"%~dp0kestrelsrv.exe" /UnregServer %*
if errorlevel 1 echo Removing the registration failed. & exit /b 1
echo The counter server is no longer registered.
