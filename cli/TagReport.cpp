#include "TagReport.h"

#include "analysis/ID3v1.h"
#include "analysis/ID3v2.h"

namespace {
using V = ReportValue;
} // namespace

V DescribeId3v1(const TID3v1& tag)
{
    V object = V::Object();
    object.Add("Exists", V::Boolean(tag.Exists()))
        .Add("VersionID", V::Integer(tag.VersionID()))
        .Add("Title", V::Text(tag.Title()))
        .Add("Artist", V::Text(tag.Artist()))
        .Add("Album", V::Text(tag.Album()))
        .Add("Year", V::Text(tag.Year()))
        .Add("Comment", V::Text(tag.Comment()))
        .Add("Track", V::Integer(tag.Track()))
        .Add("GenreID", V::Integer(tag.GenreID()))
        .Add("Genre", V::Text(tag.Genre()));
    return object;
}

V DescribeId3v2(const TID3v2& tag)
{
    V object = V::Object();
    object.Add("Exists", V::Boolean(tag.Exists()))
        .Add("VersionID", V::Integer(tag.VersionID()))
        .Add("Size", V::Integer(tag.Size()))
        .Add("Title", V::Text(tag.Title()))
        .Add("Artist", V::Text(tag.Artist()))
        .Add("Album", V::Text(tag.Album()))
        .Add("Track", V::Integer(tag.Track()))
        .Add("TrackTotal", V::Text(tag.TrackTotal()))
        .Add("Year", V::Text(tag.Year()))
        .Add("Genre", V::Text(tag.Genre()))
        .Add("Comment", V::Text(tag.Comment()));
    return object;
}
