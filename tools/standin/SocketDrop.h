#pragma once

class QWebSocket;

// Ends a WebSocket's TCP connection without a close frame, once everything sent on it is out:
// the scripted "drop" of the stand-in's WebSocket services.
void dropWhenFlushed(QWebSocket *socket);
