// Which edition the stand-in plays (--edition): what SERVERPROPERTY and @@VERSION call it, and the
// data size Express allows a database.
#pragma once

#include "Personality.h"

#include <string>

enum class Edition { Developer, Express, Standard, Enterprise };

// "express", "standard", "enterprise", "developer"; false for any other word.
bool editionFor(const std::string& word, Edition& out);

// SERVERPROPERTY('Edition'): "Express Edition (64-bit)", 2000's MSDE "Desktop Engine".
std::string editionName(Edition edition, const Personality& p);
// SERVERPROPERTY('EngineEdition'): 4 Express (2000's Desktop Engine is 1), 2 Standard, 3 Enterprise
// and Developer.
int engineEdition(Edition edition, const Personality& p);
// @@VERSION with its edition line naming this edition instead of the build's own.
std::string bannerFor(Edition edition, const Personality& p);

// The most data one database may hold, in MB; 0 where the edition sets no limit. Express: 2 GB for
// MSDE 2000, 4 GB for 2005 and 2008, 10 GB from 2008 R2 to 2022, 50 GB for 2025. capOverrideMB,
// when above 0, lowers an Express cap so that tests can reach it with small files.
long long sizeCapMB(Edition edition, const Personality& p, long long capOverrideMB);
