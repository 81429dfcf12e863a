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
        <translation>Einzelne Anwendung</translation>
    </message>
</context>
<context>
    <name>BookmarkDialog</name>
    <message>
        <location filename="../src/sessions/BookmarkDialog.cpp" line="+69"/>
        <source>Bookmarks</source>
        <translation>Lesezeichen</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>History</source>
        <translation>Verlauf</translation>
    </message>
</context>
<context>
    <name>BookmarkModel</name>
    <message>
        <location filename="../src/sessions/BookmarkModel.cpp" line="+54"/>
        <source>Name</source>
        <translation>Name</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Command</source>
        <translation>Befehl</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Window Size</source>
        <translation>Fenstergröße</translation>
    </message>
</context>
<context>
    <name>Connection</name>
    <message>
        <location filename="../src/connections/Connection.cpp" line="+165"/>
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
        <location filename="../src/connections/ConnectionListWidget.cpp" line="+135"/>
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
        <location line="+3"/>
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
        <location line="+121"/>
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
        <location filename="../src/ssh/ConnectionFailure.cpp" line="+71"/>
        <source>Unable to contact the server. Check that the server is properly installed and that the SCI is accessible to the user &quot;%1&quot;.</source>
        <translation>Der Server ist nicht erreichbar. Prüfen Sie, ob der Server richtig installiert ist und der Benutzer „%1“ auf die SCI zugreifen kann.</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>Unable to authenticate the user &quot;%1&quot;.</source>
        <translation>Der Benutzer „%1“ konnte nicht authentifiziert werden.</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>The host &quot;%1&quot; was not recognized. Make sure the hostname is correct.</source>
        <translation>Der Host „%1“ ist unbekannt. Prüfen Sie, ob der Hostname richtig ist.</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>Unable to connect to the host &quot;%1&quot;. The host may be down.</source>
        <translation>Keine Verbindung zum Host „%1“ möglich. Der Host ist vielleicht nicht in Betrieb.</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>The program &quot;%1&quot; failed to start. The %2 install may be corrupt.</source>
        <translation>Das Programm „%1“ konnte nicht gestartet werden. Die Installation von %2 ist möglicherweise beschädigt.</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>The program &quot;%1&quot; failed to start. Make sure a version of %2 is installed.</source>
        <translation>Das Programm „%1“ konnte nicht gestartet werden. Prüfen Sie, ob %2 installiert ist.</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>The local port of the SSH tunnel was taken by another program. Try to connect again.</source>
        <translation>Ein anderes Programm hat den lokalen Port des SSH-Tunnels belegt. Versuchen Sie erneut, die Verbindung herzustellen.</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>There was a problem with the connection.</source>
        <translation>Bei der Verbindung ist ein Problem aufgetreten.</translation>
    </message>
</context>
<context>
    <name>ConnectionModel</name>
    <message>
        <location filename="../src/connections/ConnectionModel.cpp" line="+50"/>
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
    <name>JoinSessionDialog</name>
    <message>
        <location filename="../src/connections/JoinSession.cpp" line="+31"/>
        <location line="+32"/>
        <location line="+20"/>
        <source>There was a problem joining the session.</source>
        <translation>Beim Teilnehmen an der Sitzung ist ein Problem aufgetreten.</translation>
    </message>
    <message>
        <location line="-51"/>
        <source>Make sure it is still running and that SSH tunneling is enabled.</source>
        <translation>Prüfen Sie, ob sie noch läuft und SSH-Tunnel erlaubt sind.</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>Oops! We are not sure what happened here.</source>
        <translation>Hoppla! Was hier passiert ist, wissen wir nicht genau.</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Please contact %1 support if this happens again.</source>
        <translation>Wenden Sie sich an den Support von %1, wenn das wieder passiert.</translation>
    </message>
    <message>
        <location line="+36"/>
        <location line="+19"/>
        <source>Viewing %1:%2</source>
        <translation>Ansicht von %1:%2</translation>
    </message>
    <message>
        <location line="+38"/>
        <source>%1</source>
        <translation>%1</translation>
    </message>
    <message>
        <location filename="../src/connections/JoinSessionDialog.cpp" line="+32"/>
        <source>FIPS compliant mode</source>
        <translation>FIPS-konformer Modus</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>Join Session</source>
        <translation>An Sitzung teilnehmen</translation>
    </message>
    <message>
        <location line="+8"/>
        <source>Your Name</source>
        <translation>Ihr Name</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Sharing Key</source>
        <translation>Freigabeschlüssel</translation>
    </message>
</context>
<context>
    <name>JsonRpcHandler</name>
    <message>
        <location filename="../src/ssh/JsonRpcHandler.cpp" line="+133"/>
        <source>Got invalid JSON</source>
        <translation>Ungültiges JSON empfangen</translation>
    </message>
</context>
<context>
    <name>NetStringBuffer</name>
    <message>
        <location filename="../src/ssh/NetString.cpp" line="+125"/>
        <source>Got an invalid NetString</source>
        <translation>Ungültigen NetString empfangen</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Got an invalid NetString length</source>
        <translation>Ungültige NetString-Länge empfangen</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Got a NetString length that is too big</source>
        <translation>Zu große NetString-Länge empfangen</translation>
    </message>
</context>
<context>
    <name>OperationStatusDialog</name>
    <message>
        <location filename="../src/ssh/OperationStatusDialog.cpp" line="+28"/>
        <source>Connecting...</source>
        <translation>Verbindung wird hergestellt...</translation>
    </message>
    <message>
        <location line="+26"/>
        <source>This host is not recognized by the system. Are you sure you want to continue?</source>
        <translation>Dieser Host ist dem System nicht bekannt. Möchten Sie wirklich fortfahren?</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>The username for this connection:</source>
        <translation>Der Benutzername für diese Verbindung:</translation>
    </message>
    <message>
        <location line="+21"/>
        <location line="+90"/>
        <source>Abort</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <location line="-4"/>
        <source>Continue</source>
        <translation>Fortfahren</translation>
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
        <translation>Fehler beim Öffnen der Datei „%1“: %2</translation>
    </message>
    <message>
        <location line="+6"/>
        <source>Error reading from the file &quot;%1&quot;: %2</source>
        <translation>Fehler beim Lesen der Datei „%1“: %2</translation>
    </message>
</context>
<context>
    <name>RdpCertificateCheck</name>
    <message>
        <location filename="../src/rdp/RdpCertificateCheck.cpp" line="+102"/>
        <source>%1 Certificate</source>
        <translation>%1-Zertifikat</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>The certificate of %1:%2 is not signed by an authority this system trusts.&lt;br&gt;&lt;br&gt;Fingerprint: %3&lt;br&gt;&lt;br&gt;Connect, and accept this certificate for this host from now on?</source>
        <translation>Das Zertifikat von %1:%2 ist von keiner Stelle signiert, der dieses System vertraut.&lt;br&gt;&lt;br&gt;Fingerabdruck: %3&lt;br&gt;&lt;br&gt;Verbinden und dieses Zertifikat für diesen Host ab jetzt akzeptieren?</translation>
    </message>
    <message>
        <location line="+9"/>
        <source>Accept</source>
        <translation>Akzeptieren</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Refuse</source>
        <translation>Ablehnen</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>The certificate of %1:%2 has changed.</source>
        <translation>Das Zertifikat von %1:%2 hat sich geändert.</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>The connection was refused: someone may be posing as the server. The certificate accepted before has the fingerprint %1, the one offered now %2.</source>
        <translation>Die Verbindung wurde abgelehnt: Jemand gibt sich möglicherweise als der Server aus. Das früher akzeptierte Zertifikat hat den Fingerabdruck %1, das jetzt angebotene %2.</translation>
    </message>
</context>
<context>
    <name>RdpInstance</name>
    <message>
        <location filename="../src/rdp/RdpInstance.cpp" line="+399"/>
        <source>%1 now has control of the session.</source>
        <translation>%1 steuert jetzt die Sitzung.</translation>
    </message>
    <message>
        <location line="+6"/>
        <source>%1 has joined the session.</source>
        <translation>%1 nimmt jetzt an der Sitzung teil.</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>%1 has left the session.</source>
        <translation>%1 hat die Sitzung verlassen.</translation>
    </message>
</context>
<context>
    <name>RdpOptionsDialog</name>
    <message>
        <location filename="../src/rdp/RdpOptionsDialog.cpp" line="+62"/>
        <source>Change Update Settings</source>
        <translation>Aktualisierung anpassen</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>Image Quality: Highest</source>
        <translation>Bildqualität: Höchste</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>Frame Rate: 60 fps</source>
        <translation>Bildrate: 60 fps</translation>
    </message>
    <message>
        <location line="+11"/>
        <source>Frame Window: Off</source>
        <translation>Bildfenster: Aus</translation>
    </message>
    <message>
        <location line="+12"/>
        <source>Zoom: 1x</source>
        <translation>Zoom: 1x</translation>
    </message>
    <message>
        <location line="+162"/>
        <source>Highest</source>
        <translation>Höchste</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Very Low</source>
        <translation>Sehr niedrig</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Higher</source>
        <translation>Höher</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Medium</source>
        <translation>Mittel</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Lower</source>
        <translation>Niedriger</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Image Quality: %1</source>
        <translation>Bildqualität: %1</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>Frame Rate: %1 fps</source>
        <translation>Bildrate: %1 fps</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>Off</source>
        <translation>Aus</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>%1 frames</source>
        <translation>%1 Bilder</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Frame Window: %1</source>
        <translation>Bildfenster: %1</translation>
    </message>
    <message>
        <location line="+21"/>
        <source>Zoom: %1</source>
        <translation>Zoom: %1</translation>
    </message>
</context>
<context>
    <name>RdpSharingDialog</name>
    <message>
        <location filename="../src/rdp/RdpSharingDialog.cpp" line="+40"/>
        <source>Email</source>
        <translation>E-Mail</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Email the key.</source>
        <translation>Den Schlüssel per E-Mail senden.</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Copy to Clipboard</source>
        <translation>In die Zwischenablage kopieren</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Copy the key to the clipboard.</source>
        <translation>Den Schlüssel in die Zwischenablage kopieren.</translation>
    </message>
    <message>
        <location line="+11"/>
        <source>Share the secret key.</source>
        <translation>Den geheimen Schlüssel weitergeben.</translation>
    </message>
    <message>
        <location line="+6"/>
        <source>Turn sharing on/off.</source>
        <translation>Freigabe ein- oder ausschalten.</translation>
    </message>
    <message>
        <location line="+28"/>
        <source>Give control to this viewer.</source>
        <translation>Diesem Zuschauer die Steuerung übergeben.</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>Remove this viewer from the session.</source>
        <translation>Diesen Zuschauer aus der Sitzung entfernen.</translation>
    </message>
    <message>
        <location line="+73"/>
        <source>To join the session enter the following key when prompted

%1</source>
        <translation>Um an der Sitzung teilzunehmen, geben Sie auf Nachfrage den folgenden Schlüssel ein:

%1</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>Join %1 Session</source>
        <translation>An %1-Sitzung teilnehmen</translation>
    </message>
</context>
<context>
    <name>RdpSharingKey</name>
    <message>
        <location filename="../src/rdp/RdpSharingKey.cpp" line="+59"/>
        <source>Invalid sharing key.</source>
        <translation>Ungültiger Freigabeschlüssel.</translation>
    </message>
</context>
<context>
    <name>RdpToolbar</name>
    <message>
        <location filename="../src/rdp/RdpToolbar.cpp" line="+31"/>
        <source>Disconnect the session.</source>
        <translation>Die Sitzung trennen.</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Toggle resize mode.</source>
        <translation>Größenanpassung ein- oder ausschalten.</translation>
    </message>
    <message>
        <location line="+6"/>
        <source>Toggle fullscreen mode.</source>
        <translation>Vollbildmodus ein- oder ausschalten.</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>Adjust session settings.</source>
        <translation>Die Sitzungseinstellungen anpassen.</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>Show the sharing controls.</source>
        <translation>Die Bedienelemente der Freigabe anzeigen.</translation>
    </message>
</context>
<context>
    <name>RdpViewerModel</name>
    <message>
        <location filename="../src/rdp/RdpViewerModel.cpp" line="+33"/>
        <source>me</source>
        <translation>ich</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>owner</source>
        <translation>Besitzer</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>controller</source>
        <translation>steuert</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>%1 (%2)</source>
        <translation>%1 (%2)</translation>
    </message>
    <message>
        <location line="+6"/>
        <source>Viewer</source>
        <translation>Zuschauer</translation>
    </message>
</context>
<context>
    <name>SessionListWidget</name>
    <message>
        <location filename="../src/sessions/SessionDisplay.cpp" line="+23"/>
        <location line="+46"/>
        <source>There was a problem connecting to the session.</source>
        <translation>Beim Verbinden mit der Sitzung ist ein Problem aufgetreten.</translation>
    </message>
    <message>
        <location line="-45"/>
        <source>Make sure it is still running and that SSH tunneling is enabled.</source>
        <translation>Prüfen Sie, ob sie noch läuft und ob SSH-Tunnel erlaubt sind.</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>The session was taken over by another connection.</source>
        <translation>Die Sitzung wurde von einer anderen Verbindung übernommen.</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>It is now shown there. Connect again to show it here.</source>
        <translation>Sie wird jetzt dort angezeigt. Verbinden Sie sich erneut, um sie hier anzuzeigen.</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>Oops! We are not sure what happened here.</source>
        <translation>Hoppla! Wir wissen nicht genau, was hier passiert ist.</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Please contact %1 support if this happens again.</source>
        <translation>Wenn das wieder vorkommt, wenden Sie sich bitte an den Support von %1.</translation>
    </message>
    <message>
        <location filename="../src/sessions/SessionListWidget.cpp" line="+45"/>
        <source>Manage bookmarks and history.</source>
        <translation>Lesezeichen und Verlauf verwalten.</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>Show the SSH log.</source>
        <translation>Das SSH-Protokoll anzeigen.</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>Start a new session.</source>
        <translation>Eine neue Sitzung starten.</translation>
    </message>
    <message>
        <location line="+297"/>
        <source>Terminate &quot;%1&quot;?</source>
        <translation>„%1“ beenden?</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Terminate</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Keep</source>
        <translation>Behalten</translation>
    </message>
    <message>
        <location line="+17"/>
        <source>Failed to disconnect the session.</source>
        <translation>Die Sitzung konnte nicht getrennt werden.</translation>
    </message>
    <message>
        <location line="+6"/>
        <source>Failed to terminate the session.</source>
        <translation>Die Sitzung konnte nicht beendet werden.</translation>
    </message>
    <message>
        <location line="+63"/>
        <source>Failed to connect to the session.</source>
        <translation>Die Verbindung zur Sitzung konnte nicht hergestellt werden.</translation>
    </message>
    <message>
        <location line="+18"/>
        <source>Failed to start the session.</source>
        <translation>Die Sitzung konnte nicht gestartet werden.</translation>
    </message>
    <message>
        <location line="+33"/>
        <source>Connection Log</source>
        <translation>Verbindungsprotokoll</translation>
    </message>
</context>
<context>
    <name>SessionModel</name>
    <message>
        <location filename="../src/sessions/SessionModel.cpp" line="+27"/>
        <source>Name</source>
        <translation>Name</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Started</source>
        <translation>Gestartet</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Last Connect</source>
        <translation>Zuletzt verbunden</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Last Disconnect</source>
        <translation>Zuletzt getrennt</translation>
    </message>
</context>
<context>
    <name>SshDevice</name>
    <message>
        <location filename="../src/ssh/SshDevice.cpp" line="+163"/>
        <location line="+221"/>
        <source>%1 crashed</source>
        <translation>%1 ist abgestürzt</translation>
    </message>
    <message>
        <location line="-177"/>
        <source>Failed to find an open port for tunneling</source>
        <translation>Kein freier Port für den Tunnel gefunden</translation>
    </message>
    <message>
        <location line="-25"/>
        <location line="+165"/>
        <source>%1 failed to start</source>
        <translation>%1 konnte nicht gestartet werden</translation>
    </message>
    <message>
        <location line="-23"/>
        <source>No local port from %1 to %2 was free for the SSH tunnel. Close other connections and log in again.</source>
        <translation>Kein lokaler Port von %1 bis %2 war für den SSH-Tunnel frei. Schließen Sie andere Verbindungen und melden Sie sich erneut an.</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>The SSH connection has ended.</source>
        <translation>Die SSH-Verbindung wurde beendet.</translation>
    </message>
    <message>
        <location line="+36"/>
        <source>The program &quot;%1&quot; on the server has ended.</source>
        <translation>Das Programm &quot;%1&quot; auf dem Server wurde beendet.</translation>
    </message>
    <message>
        <location line="-31"/>
        <source>The SSH tunnel is not safe to use: %1</source>
        <translation>Der SSH-Tunnel ist nicht sicher: %1</translation>
    </message>
    <message>
        <location line="+53"/>
        <source>%2 quit with error code %1</source>
        <translation>%2 wurde mit dem Fehlercode %1 beendet</translation>
    </message>
    <message>
        <location filename="../src/ssh/LoopbackListener.cpp" line="+120"/>
        <source>The listeners on local port %1 cannot be read.</source>
        <translation>Die am lokalen Port %1 lauschenden Programme lassen sich nicht ermitteln.</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>Nothing listens on local port %1.</source>
        <translation>Am lokalen Port %1 lauscht kein Programm.</translation>
    </message>
    <message>
        <location line="+6"/>
        <source>Another program listens on local port %1.</source>
        <translation>Ein anderes Programm lauscht am lokalen Port %1.</translation>
    </message>
</context>
<context>
    <name>StartSessionDialog</name>
    <message>
        <location filename="../src/sessions/StartSessionDialog.cpp" line="+34"/>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;Command&lt;span style=&quot; color:#aa0000;&quot;&gt;*&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;Befehl&lt;span style=&quot; color:#aa0000;&quot;&gt;*&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <location line="+39"/>
        <location line="+26"/>
        <source>Suggestions</source>
        <translation>Vorschläge</translation>
    </message>
    <message>
        <location line="-26"/>
        <source>Bookmarks</source>
        <translation>Lesezeichen</translation>
    </message>
    <message>
        <location line="+0"/>
        <source>History</source>
        <translation>Verlauf</translation>
    </message>
    <message>
        <location line="+10"/>
        <source>Single Application</source>
        <translation>Einzelne Anwendung</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>   %1 (%2)</source>
        <translation>   %1 (%2)</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>   %1</source>
        <translation>   %1</translation>
    </message>
</context>
<context>
    <name>WindowModeWidget</name>
    <message>
        <location filename="../src/sessions/WindowModeWidget.cpp" line="+9"/>
        <source>Single Application</source>
        <translation>Einzelne Anwendung</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <location filename="../src/main.cpp" line="+36"/>
        <source>Connections</source>
        <translation>Verbindungen</translation>
    </message>
</context>
</TS>
