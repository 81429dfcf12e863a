<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>AboutDialog</name>
    <message>
        <location filename="../src/app/AboutDialog.cpp" line="+56"/>
        <source>About %1</source>
        <translation>Über %1</translation>
    </message>
    <message>
        <location line="+20"/>
        <source>Copyright © Talvene. All rights reserved.</source>
        <translation>Copyright © Talvene. Alle Rechte vorbehalten.</translation>
    </message>
    <message>
        <location line="+21"/>
        <source>license</source>
        <translation>Lizenz</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>Open Source Software</source>
        <translation>Open-Source-Software</translation>
    </message>
</context>
<context>
    <name>Bookmark</name>
    <message>
        <location filename="../src/sessions/Bookmark.cpp" line="+34"/>
        <source>Single Application</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>BookmarkDialog</name>
    <message>
        <location filename="../src/sessions/BookmarkDialog.cpp" line="+69"/>
        <source>Bookmarks</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+3"/>
        <source>History</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>BookmarkModel</name>
    <message>
        <location filename="../src/sessions/BookmarkModel.cpp" line="+54"/>
        <source>Name</source>
        <translation type="unfinished">Name</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Command</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Window Size</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>Connection</name>
    <message>
        <location filename="../src/connections/Connection.cpp" line="+164"/>
        <source>No file name given.</source>
        <translation>Kein Dateiname angegeben.</translation>
    </message>
</context>
<context>
    <name>ConnectionEditor</name>
    <message>
        <location filename="../src/connections/ConnectionEditor.cpp" line="+54"/>
        <source>FIPS compliant mode</source>
        <translation>FIPS-konformer Modus</translation>
    </message>
    <message>
        <location line="+11"/>
        <source>Name</source>
        <translation>Name</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Host</source>
        <translation>Host</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Port</source>
        <translation>Port</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>User</source>
        <translation>Benutzer</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Sci</source>
        <translation>Sci</translation>
    </message>
    <message>
        <location line="+34"/>
        <source>Save As Global</source>
        <translation>Global speichern</translation>
    </message>
</context>
<context>
    <name>ConnectionListWidget</name>
    <message>
        <location filename="../src/connections/ConnectionListWidget.cpp" line="+83"/>
        <source>About %1</source>
        <translation>Über %1</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Show the About dialog.</source>
        <translation>Den Über-Dialog anzeigen.</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Documentation</source>
        <translation>Dokumentation</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Show the program documentation.</source>
        <translation>Die Programmdokumentation anzeigen.</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>Join a session.</source>
        <translation>An einer Sitzung teilnehmen.</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>Add a new connection.</source>
        <translation>Eine neue Verbindung hinzufügen.</translation>
    </message>
    <message>
        <location line="+38"/>
        <source>Edit the connection.</source>
        <translation>Die Verbindung bearbeiten.</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>Remove the connection.</source>
        <translation>Die Verbindung entfernen.</translation>
    </message>
    <message>
        <location line="+38"/>
        <source>Failed to add the connection.</source>
        <translation>Die Verbindung konnte nicht hinzugefügt werden.</translation>
    </message>
    <message>
        <location line="+14"/>
        <source>Failed to edit the connection &quot;%1&quot;.</source>
        <translation>Die Verbindung „%1“ konnte nicht geändert werden.</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>Failed to remove the connection &quot;%1&quot;.</source>
        <translation>Die Verbindung „%1“ konnte nicht entfernt werden.</translation>
    </message>
    <message>
        <location line="+49"/>
        <source>New Connection</source>
        <translation>Neue Verbindung</translation>
    </message>
    <message>
        <location line="+116"/>
        <source>Remove connection &quot;%1&quot;?</source>
        <translation>Verbindung „%1“ entfernen?</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Remove</source>
        <translation>Entfernen</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Keep</source>
        <translation>Behalten</translation>
    </message>
    <message>
        <location filename="../src/connections/OpenConnection.cpp" line="+30"/>
        <source>%1 (%2)</source>
        <translation>%1 (%2)</translation>
    </message>
    <message>
        <location filename="../src/ssh/ConnectionFailure.cpp" line="+69"/>
        <source>Unable to contact the server. Check that the server is properly installed and that the SCI is accessible to the user &quot;%1&quot;.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+5"/>
        <source>Unable to authenticate the user &quot;%1&quot;.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+3"/>
        <source>The host &quot;%1&quot; was not recognized. Make sure the hostname is correct.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+5"/>
        <source>Unable to connect to the host &quot;%1&quot;. The host may be down.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+4"/>
        <source>The program &quot;%1&quot; failed to start. The %2 install may be corrupt.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+4"/>
        <source>The program &quot;%1&quot; failed to start. Make sure a version of %2 is installed.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+14"/>
        <source>There was a problem with the connection.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>ConnectionModel</name>
    <message>
        <location filename="../src/connections/ConnectionModel.cpp" line="+48"/>
        <source>Uid: %1</source>
        <translation>Uid: %1</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Name: %1</source>
        <translation>Name: %1</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Host: %1</source>
        <translation>Host: %1</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Port: %1</source>
        <translation>Port: %1</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>User: %1</source>
        <translation>Benutzer: %1</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Sci: %1</source>
        <translation>Sci: %1</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>FIPS mode enabled</source>
        <translation>FIPS-Modus eingeschaltet</translation>
    </message>
</context>
<context>
    <name>FailureBox</name>
    <message>
        <location filename="../src/app/FailureBox.cpp" line="+10"/>
        <source>%1 Error</source>
        <translation>%1-Fehler</translation>
    </message>
</context>
<context>
    <name>JsonRpcHandler</name>
    <message>
        <location filename="../src/ssh/JsonRpcHandler.cpp" line="+130"/>
        <source>Got invalid JSON</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>NetStringBuffer</name>
    <message>
        <location filename="../src/ssh/NetString.cpp" line="+125"/>
        <source>Got an invalid NetString</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Got an invalid NetString length</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Got a NetString length that is too big</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>OperationStatusDialog</name>
    <message>
        <location filename="../src/ssh/OperationStatusDialog.cpp" line="+28"/>
        <source>Connecting...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+26"/>
        <source>This host is not recognized by the system. Are you sure you want to continue?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+13"/>
        <source>The username for this connection:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+21"/>
        <location line="+88"/>
        <source>Abort</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="-4"/>
        <source>Continue</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>QuestionDialog</name>
    <message>
        <location filename="../src/app/QuestionDialog.cpp" line="+16"/>
        <source>Questions?</source>
        <translation>Fragen?</translation>
    </message>
</context>
<context>
    <name>RandomToken</name>
    <message>
        <location filename="../src/ssh/RandomToken.cpp" line="+11"/>
        <source>Error opening the file &quot;%1&quot;: %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+6"/>
        <source>Error reading from the file &quot;%1&quot;: %2</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>RdpToolbar</name>
    <message>
        <location filename="../src/rdp/RdpToolbar.cpp" line="+29"/>
        <source>Disconnect the session.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Toggle resize mode.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+7"/>
        <source>Toggle fullscreen mode.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+4"/>
        <source>Adjust session settings.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+4"/>
        <source>Show the sharing controls.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>SessionListWidget</name>
    <message>
        <location filename="../src/sessions/SessionDisplay.cpp" line="+23"/>
        <source>There was a problem connecting to the session.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Make sure it is still running and that SSH tunneling is enabled.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+3"/>
        <source>Oops! We are not sure what happened here.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Please contact %1 support if this happens again.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../src/sessions/SessionListWidget.cpp" line="+43"/>
        <source>Manage bookmarks and history.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+3"/>
        <source>Show the SSH log.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+3"/>
        <source>Start a new session.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+258"/>
        <source>Terminate &quot;%1&quot;?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Terminate</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Keep</source>
        <translation type="unfinished">Behalten</translation>
    </message>
    <message>
        <location line="+17"/>
        <source>Failed to disconnect the session.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+6"/>
        <source>Failed to terminate the session.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+63"/>
        <source>Failed to connect to the session.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+18"/>
        <source>Failed to start the session.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+33"/>
        <source>Connection Log</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>SessionModel</name>
    <message>
        <location filename="../src/sessions/SessionModel.cpp" line="+27"/>
        <source>Name</source>
        <translation type="unfinished">Name</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Started</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Last Connect</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Last Disconnect</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>SshDevice</name>
    <message>
        <location filename="../src/ssh/SshDevice.cpp" line="+138"/>
        <source>The user for &quot;%1&quot;: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+12"/>
        <location line="+162"/>
        <source>%1 crashed</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="-118"/>
        <source>Failed to find an open port for tunneling</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="-25"/>
        <location line="+121"/>
        <source>%1 failed to start</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+27"/>
        <source>%2 quit with error code %1</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>StartSessionDialog</name>
    <message>
        <location filename="../src/sessions/StartSessionDialog.cpp" line="+34"/>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;Command&lt;span style=&quot; color:#aa0000;&quot;&gt;*&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+39"/>
        <location line="+26"/>
        <source>Suggestions</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="-26"/>
        <source>Bookmarks</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+0"/>
        <source>History</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+10"/>
        <source>Single Application</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+2"/>
        <source>   %1 (%2)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+1"/>
        <source>   %1</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>WindowModeWidget</name>
    <message>
        <location filename="../src/sessions/WindowModeWidget.cpp" line="+9"/>
        <source>Single Application</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <location filename="../src/main.cpp" line="+38"/>
        <source>Connections</source>
        <translation>Verbindungen</translation>
    </message>
</context>
</TS>
