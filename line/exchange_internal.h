// What the exchange's files share inside the line component (callers hold the exchange's lock).
#pragma once

#include <string>

#include "line/exchange.h"

void ExchangeNote(Exchange* ex, int line, LONGLONG t, const std::string& text);
void ExchangeSetState(Exchange* ex, int line, ExchangeLineState state, LONGLONG t);

// Caller ID and call waiting (exchange_calls.cpp).
// A line starts ringing: caller ID is prepared for it.
void ExchangeRingingStarted(Exchange* ex, int line);
// Once per frame for a ringing line: starts its caller ID between the first and the second ring.
void ExchangeRingingTick(Exchange* ex, int line, LONGLONG now);
// A caller reaches a line in conversation: true when the line takes it as a waiting call (tone and caller
// ID sent, the caller hears ringback).
bool ExchangeOfferWaiting(Exchange* ex, int caller, int called, LONGLONG t);
// A line in conversation closed its loop after a break shorter than a hang-up.
void ExchangeFlash(Exchange* ex, int line, LONGLONG t);
// The line is released: its waiting and held parties are let go; a waiting or held line of another leaves it.
void ExchangeReleaseOthers(Exchange* ex, int line, LONGLONG t);
