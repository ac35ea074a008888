#pragma once

// The preview page's style sheet and script, as the page holds them. The
// style sheet is cut where the colour of a changed entry's outline goes,
// which the page writes from kChangedColour.

inline constexpr const char* kStyleStart = R"(<style>
body{font:14px sans-serif;margin:16px;background:#f4f4f4;color:#222}
h1{font-size:18px} h2{font-size:15px;margin:18px 0 6px}
section{display:inline-block;vertical-align:top;margin:0 24px 12px 0}
img{image-rendering:pixelated;image-rendering:crisp-edges;display:block;
 background:repeating-conic-gradient(#999 0 25%,#ddd 0 50%) 0 0/16px 16px}
.swap img.hidden{display:none}
button{font:inherit;margin:6px 0}
.grid{display:grid;grid-template-columns:repeat(16,20px);gap:2px;
 background:repeating-conic-gradient(#999 0 25%,#ddd 0 50%) 0 0/8px 8px;padding:2px;width:max-content}
.grid i{width:20px;height:20px;box-sizing:border-box;border:1px solid #0004}
.grid i.clear{border:2px dashed #06f}
.grid i.translucent{border:2px dotted #f80}
.grid i.changed{outline:2px solid )";
inline constexpr const char* kStyleEnd = R"(}
.grid i.new{outline:2px solid #0a0}
.grid i.unused{opacity:.35}
.key span{margin-right:14px} .m{display:inline-block;width:12px;height:12px;vertical-align:middle}
pre{background:#fff;border:1px solid #ccc;padding:8px;white-space:pre-wrap}
</style>)";

inline constexpr const char* kSwapScript = R"(<script>
function swap(){var s=document.getElementById('swap');if(!s)return;
 for(const i of s.querySelectorAll('img'))i.classList.toggle('hidden');
 document.getElementById('showing').textContent=
  s.querySelector('img:not(.hidden)').dataset.panel;}
document.addEventListener('keydown',function(e){if(e.key==='s'||e.key===' '){e.preventDefault();swap();}});
document.addEventListener('DOMContentLoaded',function(){
 for(const i of document.querySelectorAll('img[data-copy-of]'))
  i.src=document.getElementById(i.dataset.copyOf).src;});
window.addEventListener('load',function(){if(location.hash==='#before')swap();});
</script>)";
