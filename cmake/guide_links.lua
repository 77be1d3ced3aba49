-- The guide's pages link to each other as HTML pages, not as the Markdown files they come from.
function Link(link)
  link.target = link.target:gsub("^(guide[%w.]*)%.md(#?.*)$", "%1.html%2")
  return link
end
